#include "cli/Operator.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "app/FirmwareApp.h"
#include "devices/ListEntry.h"
#include "res/Texts.h"
#include "res/resource.h"

namespace cli {
namespace {

using fw::headless::Headless;
using fw::headless::MessageBoxRecord;

constexpr auto kProgressEvery = std::chrono::milliseconds(500);

} // namespace

DialogRun RunWindows(fw::Kernel& kernel, const DriveIdentity& drive, const std::string& image,
                     bool confirm, bool progress) {
    Headless windows(kernel);
    fw::InstallPlatform(&windows, &kernel);
    // The run's copy for this drive alone: the copy goes when the run ends, and whoever runs
    // the windows next must find the image the program names.
    const CString named = theApp.m_strImagePath;
    theApp.m_strImagePath = image.c_str();
    // What a worker of an earlier drive left must not count for this one.
    theApp.m_bCommitTaken = 0;
    theApp.m_nChunksSent = 0;

    DialogRun run;
    std::size_t firstBox = 0;
    windows.Then(IDD_AGREEMENT, [](Headless& ui) { ui.Click(IDOK); });
    windows.Then(IDD_DEVICE_DIALOG, [&](Headless& ui) {
        firstBox = ui.MessageBoxes().size();
        const auto* list = ui.Control(IDD_DEVICE_DIALOG, IDC_DEVICE_LIST);
        for (std::size_t i = 0; list != nullptr && i < list->items.size() && !run.chosen; ++i) {
            const CString entry(list->items[i]);
            if (IsDeviceEntry(entry) && EntryDeviceIndex(entry) == drive.index) {
                run.chosen = ui.SelectItem(IDC_DEVICE_LIST, static_cast<int>(i));
            }
        }
        run.upgradeOffered = run.chosen && ui.Control(IDD_DEVICE_DIALOG, IDC_UPGRADE)->enabled;
        if (run.upgradeOffered) {
            ui.Click(IDC_UPGRADE);
        }
    });
    windows.Then(IDD_DEVICE_DIALOG, [](Headless& ui) { ui.Click(IDOK); });
    windows.AnswerBy([&](const MessageBoxRecord& box) -> std::optional<int> {
        if (box.text == res::text::kConfirmUpgrade) {
            run.confirmationAsked = true;
            return confirm ? IDYES : IDNO;
        }
        if (box.text.find(res::text::kReadSenseQuestion) != std::string::npos) {
            return IDYES;
        }
        return std::nullopt;
    });

    // The download's progress, said as it moves; the ticker is an observer in real time,
    // outside the program's own threads and waits.
    std::mutex mutex;
    std::condition_variable wake;
    bool ended = false;
    std::thread ticker;
    if (progress) {
        ticker = std::thread([&] {
            UINT shown = 0;
            std::unique_lock lock(mutex);
            while (!wake.wait_for(lock, kProgressEvery, [&] { return ended; })) {
                const UINT sent = theApp.m_nChunksSent;
                if (sent != shown) {
                    shown = sent;
                    std::fprintf(stderr, "%s: sent %u of %u chunks\n", drive.Name().c_str(), sent,
                                 theApp.m_nChunksTotal);
                }
            }
        });
    }
    fw::AfxWinMain("fwupgrade");
    {
        std::lock_guard lock(mutex);
        ended = true;
    }
    wake.notify_all();
    if (ticker.joinable()) {
        ticker.join();
    }
    const auto boxes = windows.MessageBoxes();
    run.boxes.assign(boxes.begin() + static_cast<std::ptrdiff_t>(std::min(firstBox, boxes.size())),
                     boxes.end());
    fw::InstallPlatform(nullptr, nullptr);
    theApp.m_strImagePath = named;
    return run;
}

} // namespace cli

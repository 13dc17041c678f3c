// What may never happen to a drive under a download: another drive getting its commands, a
// second download starting, an undelivered image called verified, an empty or changing image
// committed, the program ending under its worker.
#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/FirmwareApp.h"
#include "tests/program/Harness.h"
#include "zurvax/EmulatedTransport.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/FaultInjection.h"
#include "zurvax/Zurvax.h"

namespace program::test {
namespace {

constexpr char kConfirm[] = "Are you sure you want to upgrade Current Firmware?";
constexpr char kSuccess[] = "Congratulations ! \n\nYour device firmware update is now complete.";
constexpr std::size_t kChunk = 8192;
const std::string kTwoDrives = Devices({R"({"check_image":false})", R"({"check_image":false})"});

WPARAM Command(int id) { return static_cast<WPARAM>(id) | (static_cast<WPARAM>(BN_CLICKED) << 16); }

void PostTo(Headless& ui, int dialogId, UINT message, WPARAM wParam = 0) {
    ui.PostMessage(ui.Dialog(dialogId)->handle, message, wParam, 0);
}

// Boxes whose text contains part.
std::size_t Count(const std::vector<std::string>& texts, const std::string& part) {
    return static_cast<std::size_t>(
        std::count_if(texts.begin(), texts.end(), [&](const std::string& text) {
            return text.find(part) != std::string::npos;
        }));
}

std::vector<fw::model::Operation> OpsOf(ProgramRun& run, const std::string& what, int dialogId) {
    std::vector<fw::model::Operation> ops;
    for (const auto& op : run.ui().Operations()) {
        if (op.what == what && op.dialogId == dialogId)
            ops.push_back(op);
    }
    return ops;
}

// Upgrades the second drive, so that anything that reselects the first one shows.
void UpgradeSecondDrive(ProgramRun& run) {
    run.Agree();
    run.InMain([](Headless& ui) {
        EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, 1));
        EXPECT_TRUE(ui.Click(IDC_UPGRADE));
    });
    run.ui().Answer(kConfirm, IDYES);
}

// Runs the program through one confirmed upgrade of its only drive, then DONE.
void UpgradeTheOnlyDrive(ProgramRun& run) {
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
    run.ui().Answer(kConfirm, IDYES);
    run.Done();
    run.Run();
}

struct Interference {
    const char* name;
    std::function<void(Headless&)> act;
};

TEST(UnderADownload, NothingTheOperatorOrAnotherProgramDoesReachesTheDriveOrTheWindows) {
    const Interference cases[] = {
        {"Esc in the warning text",
         [](Headless& ui) { EXPECT_TRUE(ui.PressEscape(IDC_WARNING_TEXT)); }},
        {"Alt+F4", [](Headless& ui) { PostTo(ui, IDD_PROGRESS, WM_SYSCOMMAND, SC_CLOSE); }},
        {"another program closes the progress window",
         [](Headless& ui) { PostTo(ui, IDD_PROGRESS, WM_CLOSE); }},
        {"another program closes the main window",
         [](Headless& ui) { PostTo(ui, IDD_DEVICE_DIALOG, WM_CLOSE); }},
        {"Rescan posted",
         [](Headless& ui) { PostTo(ui, IDD_DEVICE_DIALOG, WM_COMMAND, Command(IDCANCEL)); }},
        {"Upgrade posted",
         [](Headless& ui) { PostTo(ui, IDD_DEVICE_DIALOG, WM_COMMAND, Command(IDC_UPGRADE)); }},
        {"DONE posted",
         [](Headless& ui) { PostTo(ui, IDD_DEVICE_DIALOG, WM_COMMAND, Command(IDOK)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run(kTwoDrives);
        run.WriteImage(SampleImage(3 * kChunk));
        UpgradeSecondDrive(run);
        bool progressStayed = false;
        run.ui().Then(IDD_PROGRESS, c.act);
        run.ui().Then(IDD_PROGRESS,
                      [&](Headless& ui) { progressStayed = ui.Dialog(IDD_PROGRESS) != nullptr; });
        run.Done();
        run.Run();

        EXPECT_TRUE(progressStayed);
        // Drive 0 only ever sees the selections around the download (the first scan's and
        // the rescan's), never a buffer command or a poll of it.
        EXPECT_EQ(run.TraceOf("TestUnitReady 0").size(), 4u);
        EXPECT_TRUE(run.TraceOf("WriteBuffer 0").empty());
        EXPECT_TRUE(run.TraceOf("ReadBuffer 0").empty());
        EXPECT_EQ(run.TraceOf("WriteBuffer 1 mode=2").size(), 3u);
        EXPECT_EQ(run.TraceOf("WriteBuffer 1 mode=5").size(), 1u);
        EXPECT_EQ(run.TraceOf("ClaimDevice 1 -> 0").size(), 1u);
        EXPECT_EQ(run.TraceOf("ReleaseDevice 1 -> 0").size(), 1u)
            << "the drive claimed is the drive given back";
        // The window ended once, on the worker's signal, 2000 ms before its outcome.
        const auto ended = OpsOf(run, "EndDialog", IDD_PROGRESS);
        ASSERT_EQ(ended.size(), 1u);
        EXPECT_GE(ended[0].time + 2000, run.Boxes().back().time);
        EXPECT_EQ(run.Boxes().back().text, kSuccess);
        EXPECT_EQ(run.kernel().StartedThreadPriorities().size(), 1u) << "one worker";
        EXPECT_EQ(OpsOf(run, "LB_RESETCONTENT", IDD_DEVICE_DIALOG).size(), 2u)
            << "no rescan under it";
        EXPECT_EQ(run.ui().Problems(), std::vector<std::string>{})
            << "no question asked, DONE still to press";
    }
}

TEST(UnderADownload, ASecondRequestWaitsUntilThePreviousWorkerHasEnded) {
    ProgramRun run(kTwoDrives);
    run.WriteImage(SampleImage(kChunk));
    UpgradeSecondDrive(run);
    // Right after the progress window: the worker still holds its signal for 2000 ms and
    // then shows its outcome, and its late reset would swallow a new run's signal.
    run.InMain(
        [](Headless& ui) { PostTo(ui, IDD_DEVICE_DIALOG, WM_COMMAND, Command(IDC_UPGRADE)); });
    run.InMain([](Headless& ui) {
        fw::Sleep(5000);
        PostTo(ui, IDD_DEVICE_DIALOG, WM_COMMAND, Command(IDC_UPGRADE));
    });
    run.ui().Answer(kConfirm, IDNO);
    run.Done();
    run.Run();

    EXPECT_EQ(Count(run.BoxTexts(), kConfirm), 2u)
        << "the early request did nothing, the later one asked";
    EXPECT_EQ(run.kernel().StartedThreadPriorities().size(), 1u);
    EXPECT_EQ(run.ui().Problems(), std::vector<std::string>{});
}

TEST(UnderADownload, DoneRightAfterTheProgressWindowStillShowsTheOutcomeBeforeTheProgramEnds) {
    ProgramRun run(Devices({R"({"check_image":false})"}));
    run.WriteImage(SampleImage(kChunk));
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
    run.ui().Answer(kConfirm, IDYES);
    run.Done();
    run.Run();

    // The entry has returned: the worker must have finished, its outcome shown.
    EXPECT_FALSE(fw::AfxWorkerThreadsRunning());
    EXPECT_EQ(run.Boxes().back().text, kSuccess);
    EXPECT_GT(run.Boxes().back().time, OpsOf(run, "EndDialog", IDD_DEVICE_DIALOG).at(0).time);
}

TEST(Download, AReadBackThatDeliversNothingNeverMatchesARepeatingImage) {
    struct Case {
        const char* name;
        std::size_t size;
        int failingChunk; // the first chunk whose WRITE BUFFER and READ BUFFER deliver nothing
    };
    const Case cases[] = {
        {"a whole chunk", 3 * kChunk, 2},
        {"a short last chunk", 2 * kChunk + 100, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string from = std::to_string(c.failingChunk);
        ProgramRun run(Devices({R"({"check_image":false,"faults":[)"
                                R"({"op":"WriteBuffer","mode":2,"from":)" +
                                from +
                                R"(,"count":0,"status":"0x3A00"},)"
                                R"({"op":"ReadBuffer","from":)" +
                                from + R"(,"count":0,"status":"0x3A00"}]})"}));
        // 0xFF padding throughout: every chunk equals the one before it.
        run.WriteImage(std::vector<std::uint8_t>(c.size, 0xFF));
        run.Agree();
        run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
        run.ui().Answer(kConfirm, IDYES);
        run.Done();
        run.Run();

        EXPECT_TRUE(run.TraceOf("WriteBuffer 0 mode=5").empty());
        EXPECT_EQ(Count(run.BoxTexts(), "Error: ReadBuffer not equal to WriteBuffer"), 1u);
        EXPECT_EQ(Count(run.BoxTexts(), kSuccess), 0u);
        EXPECT_EQ(theApp.m_bUpgradeDone, 0);
    }
}

TEST(Download, AnEmptyImageIsRefusedBeforeAnyDeviceCommand) {
    ProgramRun run(Devices({R"({"check_image":false})"}));
    run.WriteImage({});
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
    run.ui().Answer(kConfirm, IDYES);
    run.Done();
    run.Run();

    EXPECT_EQ(run.BoxTexts().back(), "ERROR: Firmware file is empty !!!");
    EXPECT_TRUE(run.TraceOf("WriteBuffer").empty());
    // Two for the first selection, the request's own, two for the rescan: none of the worker.
    EXPECT_EQ(run.TraceOf("TestUnitReady").size(), 5u);
    EXPECT_EQ(OpsOf(run, "EndDialog", IDD_PROGRESS).size(), 1u) << "the signal closed the window";
}

// The emulated drives behind a test's own transport, which adds one thing to what they do.
class AroundEmulatedDrives : public zurvax::Transport {
public:
    explicit AroundEmulatedDrives(const std::string& json)
        : AroundEmulatedDrives(
              std::get<zurvax::EmulationConfig>(zurvax::ParseEmulation(json, "test"))) {}
    std::uint32_t deviceCount() const override { return m_drives.deviceCount(); }
    zurvax::DevicePath devicePath(std::uint32_t index) const override {
        return m_drives.devicePath(index);
    }
    std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t index) const override {
        return m_drives.enumeratedDeviceType(index);
    }
    zurvax::ScsiResult execute(std::uint32_t index, const zurvax::ScsiCommand& command) override {
        return m_drives.execute(index, command);
    }
    zurvax::ClaimResult claim(std::uint32_t index) override { return m_drives.claim(index); }
    std::string describe() const override { return {}; }
    // The drives' fault rules, for the library's calls through this transport.
    const zurvax::FaultRules& faults() const { return m_faults; }

private:
    explicit AroundEmulatedDrives(zurvax::EmulationConfig config)
        : m_faults(zurvax::FaultRulesOf(config)), m_drives(std::move(config)) {}

    zurvax::FaultRules m_faults;
    zurvax::EmulatedTransport m_drives;
};

// Makes transport the library's source, with its drives' fault rules on the library's calls.
template <typename Around> const Around& UseAround(std::unique_ptr<Around> transport) {
    const Around& used = *transport;
    zurvax::UseTransport(std::move(transport), used.faults());
    return used;
}

// The emulated drives, with the image file rewritten by another program as the second
// chunk arrives.
class RewritingTransport final : public AroundEmulatedDrives {
public:
    RewritingTransport(const std::string& json, std::filesystem::path image, std::string rewrite)
        : AroundEmulatedDrives(json), m_image(std::move(image)), m_rewrite(std::move(rewrite)) {}
    zurvax::ScsiResult execute(std::uint32_t index, const zurvax::ScsiCommand& command) override {
        const auto cdb = command.cdb();
        if (cdb[0] == 0x3B && cdb[1] == 2 && cdb[4] == 0x20 && !m_tried) {
            m_tried = true;
            std::fstream file(m_image, std::ios::in | std::ios::out | std::ios::binary);
            m_rewritten = file && file.write(m_rewrite.data(),
                                             static_cast<std::streamsize>(m_rewrite.size()));
        }
        return AroundEmulatedDrives::execute(index, command);
    }
    bool rewritten() const { return m_rewritten; }

private:
    std::filesystem::path m_image;
    std::string m_rewrite;
    bool m_tried = false;
    bool m_rewritten = false;
};

// The emulated drives, noting at each release whether the worker had already signalled.
class ReleaseWatchingTransport final : public AroundEmulatedDrives {
public:
    using AroundEmulatedDrives::AroundEmulatedDrives;
    void release(std::uint32_t) override {
        m_signalledAtRelease.push_back(fw::WaitForSingleObject(theApp.m_hUpgradeEvent, 0) ==
                                       WAIT_OBJECT_0);
    }
    const std::vector<bool>& signalledAtRelease() const { return m_signalledAtRelease; }

private:
    std::vector<bool> m_signalledAtRelease;
};

TEST(Download, AnImageChangedWhileItIsSentIsNeverCommitted) {
    const std::string json = Devices({"{}"});
    for (const std::string& rewrite : {std::string(16, 'X'), std::string(3 * kChunk + 10, 'Y')}) {
        ProgramRun run(json);
        run.WriteImage(SampleImage(3 * kChunk));
        const RewritingTransport& rewriting = UseAround(std::make_unique<RewritingTransport>(
            json, run.folder() / "kmr47000_0200.gbf", rewrite));
        UpgradeTheOnlyDrive(run);

#ifdef _WIN32
        // The open keeps every writer out.
        EXPECT_FALSE(rewriting.rewritten());
#else
        ASSERT_TRUE(rewriting.rewritten()) << "the stand-in for another program could not write";
        EXPECT_TRUE(run.TraceOf("WriteBuffer 0 mode=5").empty()) << rewrite.size();
        EXPECT_EQ(Count(run.BoxTexts(), "ERROR: Firmware file changed while it was being sent !!!"),
                  1u);
        EXPECT_EQ(Count(run.BoxTexts(), kSuccess), 0u);
#endif
    }
}

TEST(Download, ADriveAnotherProgramHasIsNotFlashed) {
    ProgramRun run(Devices({R"({"check_image":false,"tape_in_use":true})"}));
    run.WriteImage(SampleImage(kChunk));
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
    run.Done();
    run.Run();

    EXPECT_EQ(Count(run.BoxTexts(), "in use by another program"), 1u);
    EXPECT_EQ(Count(run.BoxTexts(), kConfirm), 0u) << "refused before the question";
    EXPECT_TRUE(run.TraceOf("WriteBuffer").empty());
    EXPECT_TRUE(run.kernel().StartedThreadPriorities().empty());
}

// After its signal the main window may scan and talk to the drives: the worker must have
// given its drive back before, however the download ended.
TEST(Download, TheWorkerGivesTheDriveBackBeforeItSignals) {
    const struct {
        const char* name;
        const char* drive;
        int chunks; // the image's size; -1: no image at all
        bool upgraded;
    } cases[] = {
        {"upgraded", R"({"check_image":false})", 3, true},
        {"a chunk refused",
         R"({"check_image":false,"faults":[{"op":"WriteBuffer","mode":2,"from":2,"status":"0x2400"}]})",
         3, false},
        {"the commit refused",
         R"({"check_image":false,"faults":[{"op":"WriteBuffer","mode":5,"status":"0x2400"}]})", 3,
         false},
        {"no image", R"({"check_image":false})", -1, false},
        {"an empty image", R"({"check_image":false})", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = Devices({c.drive});
        ProgramRun run(json);
        if (c.chunks >= 0)
            run.WriteImage(SampleImage(static_cast<std::size_t>(c.chunks) * kChunk));
        const ReleaseWatchingTransport& watching =
            UseAround(std::make_unique<ReleaseWatchingTransport>(json));
        UpgradeTheOnlyDrive(run);

        EXPECT_EQ(run.kernel().StartedThreadPriorities().size(), 1u);
        EXPECT_EQ(watching.signalledAtRelease(), std::vector<bool>{false});
        // The faults reach the library's calls through the test's own transport.
        EXPECT_EQ(Count(run.BoxTexts(), kSuccess), c.upgraded ? 1u : 0u);
    }
}

// A worker that ends at once leaves the progress window up until its next tick; an Upgrade
// that arrives meanwhile would reset the worker's signal and start a second download.
TEST(UnderADownload, AnUpgradeBetweenAWorkerThatEndedEarlyAndTheNextTickStartsNothing) {
    const struct {
        const char* name;
        bool image;
    } cases[] = {{"no image", false}, {"an empty image", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run(Devices({R"({"check_image":false})"}));
        if (c.image)
            run.WriteImage({});
        run.Agree();
        run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
        // Yes to every confirmation, so that a request wrongly started runs to its end
        // instead of leaving the window waiting for ever.
        run.ui().AnswerBy([](const MessageBoxRecord& box) -> std::optional<int> {
            if (box.text.find(kConfirm) != std::string::npos)
                return IDYES;
            return std::nullopt;
        });
        bool workerEnded = false;
        run.ui().Then(IDD_PROGRESS, [&](Headless& ui) {
            fw::Sleep(3000); // the worker's box is answered after 1000 ms, and it ends
            workerEnded = !fw::AfxWorkerThreadsRunning();
            PostTo(ui, IDD_DEVICE_DIALOG, WM_COMMAND, Command(IDC_UPGRADE));
        });
        run.Done();
        run.Run();

        EXPECT_TRUE(workerEnded);
        EXPECT_EQ(run.kernel().StartedThreadPriorities().size(), 1u) << "one worker";
        EXPECT_EQ(run.TraceOf("ClaimDevice").size(), 1u);
        EXPECT_EQ(Count(run.BoxTexts(), kConfirm), 1u);
        EXPECT_EQ(OpsOf(run, "EndDialog", IDD_PROGRESS).size(), 1u);
        EXPECT_EQ(run.ui().Problems(), std::vector<std::string>{});
    }
}

TEST(Startup, ADeviceSourceThatCannotOpenIsToldAfterTheAgreementAndEndsTheProgram) {
    ProgramRun run(R"({ "devices": [ { "revision": "0100", } ] })");
    run.Agree();
    const int exitCode = run.Run();

    EXPECT_EQ(exitCode, 2);
    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find("emulation.json"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].type, static_cast<UINT>(MB_OK | MB_ICONSTOP));
    EXPECT_EQ(run.Trace(), (std::vector<std::string>{"ZurvaxOpen -> 10009"}));
}

} // namespace
} // namespace program::test

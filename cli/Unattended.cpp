#include "cli/Unattended.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

#include "app/FirmwareApp.h"
#include "cli/CommandLine.h"
#include "cli/Processes.h"
#include "devices/DeviceList.h"
#include "devices/ListEntry.h"
#include "framework/headless/Headless.h"
#include "res/BuildInfo.h"
#include "res/Texts.h"
#include "res/resource.h"
#include "upgrade/Sha256.h"
#include "zurvax/ZurvaxApi.h"

namespace cli {
namespace {

using Json = nlohmann::ordered_json;
using fw::headless::Headless;
using fw::headless::MessageBoxRecord;

// What a drive can take: WRITE BUFFER's buffer offset has 24 bits.
constexpr std::uint64_t kLargestImage = std::uint64_t{1} << 24;
constexpr auto kProgressEvery = std::chrono::milliseconds(500);

std::string Field(const std::uint8_t* bytes, std::size_t width, bool trim) {
    std::string text;
    for (std::size_t i = 0; i < width && bytes[i] != 0; ++i) {
        text += static_cast<char>(bytes[i]);
    }
    if (trim) {
        text.erase(text.find_last_not_of(" \t") + 1);
    }
    return text;
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](char c) {
        return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    return text;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// One selected drive and what became of it.
// The check below sees nlohmann::json's invariant assertion inside its noexcept move.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct Drive {
    UINT index = 0;
    int host = 0;
    int target = 0;
    int lun = 0;
    std::string serial;
    std::string vendor;
    std::string product;
    std::string revision;
    Json record; // the drive's JSON object, once it has a result

    std::string Path() const {
        return std::to_string(host) + ":" + std::to_string(target) + ":" + std::to_string(lun);
    }
    std::string Name() const {
        return "drive " + std::to_string(index) + " (" + Path() +
               (serial.empty() ? "" : ", serial " + serial) + ")";
    }
};

// The drives the program lists, as the main window's scan finds them. An inquiry that fails
// is said on standard error; the drive is judged as the scan judges it.
std::vector<Drive> ListDrives() {
    std::vector<Drive> drives;
    WalkListedDevices(
        [](UINT status) {
            std::fprintf(stderr, "fwupgrade: an inquiry failed: status %x\n", status);
        },
        [&](const ListedDevice& device) {
            Drive drive;
            drive.index = device.index;
            drive.host = device.path.bytes[1];
            drive.target = device.path.bytes[2];
            drive.lun = device.path.bytes[3];
            drive.vendor = Field(&device.inquiry.bytes[8], 8, true);
            drive.product = Field(&device.inquiry.bytes[16], 16, true);
            drive.revision = Field(&device.inquiry.bytes[32], 4, false);
            char serial[SERIAL_NUMBER_SIZE] = {};
            if (ReadSerialNumber(device.index, serial, sizeof serial) == SCSI_STATUS_OK) {
                drive.serial = serial;
            }
            drives.push_back(std::move(drive));
        });
    return drives;
}

Json DriveJson(const Drive& drive) {
    return Json{{"index", drive.index},      {"path", drive.Path()},
                {"serial", drive.serial},    {"vendor", drive.vendor},
                {"product", drive.product},  {"revision_before", drive.revision},
                {"revision_after", nullptr}, {"result", nullptr},
                {"reason", nullptr},         {"messages", Json::array()},
                {"sense", nullptr},          {"seconds", nullptr}};
}

// The sense display's thirteen "Label:\t\tvalue" lines as an object.
Json ParseSense(const std::string& text) {
    Json sense = Json::object();
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        if (const auto colon = line.find(':'); colon != std::string::npos) {
            std::string key;
            for (const char c : line.substr(0, colon)) {
                key +=
                    c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
            key.erase(key.find_last_not_of('_') + 1);
            std::string value = line.substr(colon + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            sense[key] = value;
        }
        at = end + 1;
    }
    return sense;
}

// What the windows did with one drive.
struct DialogRun {
    bool chosen = false;                 // its list entry was found and selected
    bool upgradeOffered = false;         // Upgrade was enabled once it was selected
    bool confirmationAsked = false;      // the request reached the operator's confirmation
    std::vector<MessageBoxRecord> boxes; // every box from its selection on
};

// Runs the program's windows once for one drive: agree, choose the drive's entry, press
// Upgrade, confirm (or, for a check, decline at the confirmation), then DONE. The program
// returns once its worker has ended.
DialogRun RunWindows(fw::Kernel& kernel, const Drive& drive, const std::string& image, bool confirm,
                     bool progress) {
    Headless windows(kernel);
    fw::InstallPlatform(&windows, &kernel);
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
    return run;
}

bool Shown(const DialogRun& run, const std::string& part) {
    return std::any_of(run.boxes.begin(), run.boxes.end(), [&](const MessageBoxRecord& box) {
        return box.text.find(part) != std::string::npos;
    });
}

// The revision the drive reports now, as a fresh listing finds it by its serial number (or
// its index, for a drive without one); nothing when it is no longer listed.
std::optional<std::string> RevisionNow(const Drive& drive) {
    for (const Drive& now : ListDrives()) {
        if (drive.serial.empty() ? now.index == drive.index : now.serial == drive.serial) {
            return now.revision;
        }
    }
    return std::nullopt;
}

void Decide(Json& record, const char* result, const std::string& reason) {
    record["result"] = result;
    record["reason"] = reason.empty() ? Json(nullptr) : Json(reason);
}

// Checks or upgrades one drive in this process.
Json HandleDrive(fw::Kernel& kernel, const Drive& drive, const CommandLine& line) {
    const auto started = std::chrono::steady_clock::now();
    const bool upgrading = line.command == Command::Upgrade;
    Json record = DriveJson(drive);
    const std::string before = Upper(drive.revision);
    if (before == line.revision) {
        Decide(record, "current", "already at " + line.revision);
    } else if (before > line.revision && !line.allowOlder) {
        Decide(record, "refused",
               "a downgrade from " + drive.revision + " to " + line.revision +
                   " (--allow-older allows it)");
    } else {
        if (!line.json) {
            std::fprintf(stderr, "%s: %s\n", drive.Name().c_str(),
                         upgrading ? "upgrading" : "checking");
        }
        const DialogRun run =
            RunWindows(kernel, drive, line.image, upgrading, upgrading && !line.json);
        for (const auto& box : run.boxes) {
            record["messages"].push_back(Json{{"caption", box.caption}, {"text", box.text}});
            if (box.caption == res::text::kSenseCaption) {
                record["sense"] = ParseSense(box.text);
            }
        }
        std::string trouble; // the first error the program told, before its outcome
        for (const auto& box : run.boxes) {
            if (box.text != res::text::kConfirmUpgrade && box.caption != res::text::kSenseCaption &&
                box.text != res::text::kUpgradeFailed && box.text != res::text::kUpgradeSucceeded) {
                trouble = FirstLine(box.text);
                break;
            }
        }
        if (!run.chosen) {
            Decide(record, "refused", "the drive's list entry cannot be chosen");
        } else if (Shown(run, res::text::kWrongDevice)) {
            Decide(record, "refused", "not a drive the program upgrades");
        } else if (Shown(run, res::text::kDriveInUse)) {
            Decide(record, "refused", "in use by another program");
        } else if (Shown(run, res::text::kNotSupported)) {
            Decide(record, "refused", "below the minimum revision");
        } else if (!run.confirmationAsked) {
            Decide(record, "refused",
                   trouble.empty() ? "the program does not offer an upgrade of it"
                                   : "not ready: " + trouble);
        } else if (!upgrading) {
            Decide(record, "would-upgrade", "");
        } else if (Shown(run, res::text::kUpgradeSucceeded) || theApp.m_bCommitTaken) {
            const std::optional<std::string> after = RevisionNow(drive);
            record["revision_after"] = after ? Json(*after) : Json(nullptr);
            if (after && Upper(*after) == line.revision &&
                Shown(run, res::text::kUpgradeSucceeded)) {
                Decide(record, "upgraded", "");
            } else if (!after) {
                Decide(record, "attention",
                       "the drive took the new firmware but is no longer listed");
            } else if (Upper(*after) != line.revision) {
                Decide(record, "attention",
                       "the drive came back with revision " + *after + ", not " + line.revision);
            } else {
                Decide(record, "attention",
                       "the drive took the new firmware but did not come back ready");
            }
        } else {
            Decide(record, "failed", trouble.empty() ? "the download did not complete" : trouble);
        }
    }
    record["seconds"] =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return record;
}

// Each drive in a process of its own, at most jobs at a time.
void HandleInChildren(std::vector<Drive*>& drives, const CommandLine& line) {
    const std::string self = SelfPath();
    std::vector<std::pair<Drive*, std::unique_ptr<Child>>> running;
    std::size_t next = 0;
    const auto finish = [&](Drive& drive, const Child& child) {
        const Json document = Json::parse(child.Output(), nullptr, false);
        if (!document.is_discarded() && document.contains("drives") &&
            document["drives"].size() == 1) {
            drive.record = document["drives"][0];
        } else {
            drive.record = DriveJson(drive);
            Decide(drive.record, "failed", "its process gave no result");
        }
        if (!line.json) {
            std::fprintf(stderr, "%s: %s\n", drive.Name().c_str(),
                         drive.record["result"].get<std::string>().c_str());
        }
    };
    while (next < drives.size() || !running.empty()) {
        while (next < drives.size() && running.size() < line.jobs) {
            Drive& drive = *drives[next++];
            std::vector<std::string> arguments{"upgrade",
                                               "--image",
                                               line.image,
                                               "--revision",
                                               line.revision,
                                               "--device",
                                               drive.serial.empty() ? std::to_string(drive.index)
                                                                    : drive.serial,
                                               "--accept-agreement",
                                               "--yes",
                                               "--json"};
            if (line.allowOlder) {
                arguments.emplace_back("--allow-older");
            }
            if (!line.json) {
                std::fprintf(stderr, "%s: upgrading in a process of its own\n",
                             drive.Name().c_str());
            }
            running.emplace_back(&drive, std::make_unique<Child>(self, arguments));
        }
        for (auto it = running.begin(); it != running.end();) {
            if (it->second->Poll()) {
                finish(*it->first, *it->second);
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
}

// Drives the selectors name, in list order; a selector that names no drive is said and
// makes the run end with kExitNoDrive before any drive is touched.
std::optional<std::vector<Drive*>> Select(std::vector<Drive>& drives,
                                          const std::vector<std::string>& selectors) {
    std::vector<bool> chosen(drives.size(), selectors.empty());
    for (const std::string& selector : selectors) {
        bool any = false;
        for (std::size_t i = 0; i < drives.size(); ++i) {
            const Drive& drive = drives[i];
            const bool number =
                !selector.empty() && selector.find_first_not_of("0123456789") == std::string::npos;
            int host = 0;
            int target = 0;
            int lun = 0;
            char rest = 0;
            const bool path =
                std::sscanf(selector.c_str(), "%d:%d:%d%c", &host, &target, &lun, &rest) == 3;
            const bool match =
                selector == "all" || (number && std::to_string(drive.index) == selector) ||
                (path && host == drive.host && target == drive.target && lun == drive.lun) ||
                (!number && !path && !drive.serial.empty() && drive.serial == selector);
            if (match) {
                chosen[i] = true;
                any = true;
            }
        }
        if (!any) {
            std::fprintf(stderr, "fwupgrade: no drive matches \"%s\"\n", selector.c_str());
            return std::nullopt;
        }
    }
    std::vector<Drive*> selected;
    for (std::size_t i = 0; i < drives.size(); ++i) {
        if (chosen[i]) {
            selected.push_back(&drives[i]);
        }
    }
    return selected;
}

int Usage(const std::string& message) {
    std::fprintf(stderr, "fwupgrade: %s\n", message.c_str());
    return kExitUsage;
}

// The image: it opens, is not empty and fits a drive. Its facts go into image.
std::optional<std::string> CheckImage(const std::string& path, const std::string& revision,
                                      Json& image) {
    CFile file;
    if (!file.Open(path.c_str(), CFile::modeRead)) {
        return "the image " + path + " cannot be opened";
    }
    const DWORD length = file.GetLength();
    if (length == 0) {
        return "the image " + path + " is empty";
    }
    if (length > kLargestImage) {
        return "the image " + path + " is larger than a drive takes (16 MiB)";
    }
    Sha256 digest;
    std::vector<BYTE> chunk(8192);
    for (UINT got = 0; (got = file.Read(chunk.data(), static_cast<UINT>(chunk.size()))) != 0;) {
        if (got == CFile::kReadFailed) {
            return "the image " + path + " cannot be read";
        }
        digest.Update(chunk.data(), got);
    }
    image = Json{{"path", path},
                 {"size", length},
                 {"sha256", Sha256::Hex(digest.Finish())},
                 {"revision", revision}};
    return std::nullopt;
}

int ExitStatus(const std::vector<Drive*>& drives) {
    bool refused = false;
    for (const Drive* drive : drives) {
        const Json& result = drive->record["result"];
        if (result == "failed" || result == "attention") {
            return kExitFailed;
        }
        refused = refused || result == "refused";
    }
    return refused ? kExitRefused : kExitDone;
}

} // namespace

int RunUnattended(const std::vector<std::string>& arguments, fw::Kernel& kernel) {
    AttachParentConsole();
    const auto parsed = ParseCommandLine(arguments);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        std::fprintf(stderr, "fwupgrade: %s\n%s", error->message.c_str(), UsageText());
        return kExitUsage;
    }
    const CommandLine& line = std::get<CommandLine>(parsed);
    if (line.command == Command::Help) {
        std::fputs(UsageText(), stdout);
        return kExitDone;
    }
    if (line.command == Command::Version) {
        std::printf("fwupgrade %s\n", FWUPGRADE_VERSION);
        return kExitDone;
    }
    if (line.command == Command::Upgrade && (!line.acceptAgreement || !line.yes)) {
        return Usage("upgrade needs --accept-agreement and --yes: nothing was done");
    }

    Json document{{"format_version", 1},
                  {"tool", "fwupgrade"},
                  {"version", FWUPGRADE_VERSION},
                  {"arguments", arguments},
                  {"host", HostName()}};
    if (line.command != Command::List) {
        Json image;
        if (const auto problem = CheckImage(line.image, line.revision, image)) {
            return Usage(*problem);
        }
        document["image"] = image;
    }

    char message[512] = {};
    if (ZurvaxOpen(message, sizeof message) != SCSI_STATUS_OK) {
        return Usage(message);
    }
    if (message[0] != '\0') {
        std::fprintf(stderr, "fwupgrade: %s\n", message);
    }
    std::vector<Drive> drives = ListDrives();
    const auto selected = Select(drives, line.devices);
    int status = kExitNoDrive;
    if (selected && !selected->empty()) {
        if (line.command == Command::List) {
            for (Drive* drive : *selected) {
                drive->record = DriveJson(*drive);
                if (!line.json) {
                    std::printf("%u  %s  %-8s %-16s %s  %s\n", drive->index, drive->Path().c_str(),
                                drive->vendor.c_str(), drive->product.c_str(),
                                drive->revision.c_str(), drive->serial.c_str());
                }
            }
            status = kExitDone;
        } else {
            std::vector<Drive*> children;
            for (Drive* drive : *selected) {
                if (line.command == Command::Upgrade && line.jobs > 1) {
                    children.push_back(drive);
                    continue;
                }
                drive->record = HandleDrive(kernel, *drive, line);
                if (!line.json) {
                    std::fprintf(stderr, "%s: %s%s%s\n", drive->Name().c_str(),
                                 drive->record["result"].get<std::string>().c_str(),
                                 drive->record["reason"].is_string() ? ": " : "",
                                 drive->record["reason"].is_string()
                                     ? drive->record["reason"].get<std::string>().c_str()
                                     : "");
                }
            }
            HandleInChildren(children, line);
            status = ExitStatus(*selected);
        }
    } else if (selected) {
        std::fprintf(stderr, "fwupgrade: no drive found\n");
    }

    document["drives"] = Json::array();
    Json summary = Json::object();
    for (const Drive* drive : selected.value_or(std::vector<Drive*>{})) {
        document["drives"].push_back(drive->record);
        if (drive->record["result"].is_string()) {
            const std::string result = drive->record["result"].get<std::string>();
            summary[result] = summary.value(result, 0) + 1;
        }
    }
    document["summary"] = summary;
    document["exit_status"] = status;
    const std::string text = document.dump(2);
    if (line.json) {
        std::printf("%s\n", text.c_str());
    }
    if (!line.report.empty()) {
        std::ofstream report(line.report, std::ios::binary | std::ios::trunc);
        report << text << "\n";
        if (!report) {
            std::fprintf(stderr, "fwupgrade: the report %s could not be written\n",
                         line.report.c_str());
        }
    }
    return status;
}

} // namespace cli

#include "cli/Unattended.h"

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <set>

#include "cli/Children.h"
#include "cli/CommandLine.h"
#include "cli/Document.h"
#include "cli/Drives.h"
#include "cli/Image.h"
#include "cli/Processes.h"
#include "cli/Selector.h"
#include "cli/Text.h"
#include "cli/Verdict.h"
#include "res/BuildInfo.h"
#include "zurvax/ZurvaxApi.h"

namespace cli {
namespace {

int Usage(const std::string& message) {
    std::fprintf(stderr, "fwupgrade: %s\n", HumanText(message).c_str());
    return kExitUsage;
}

// What a run has done so far: kept outside the run's own frame so that, should anything
// unforeseen end it, what reached the drives can still be said.
struct RunState {
    bool touched = false; // the device library was opened
    std::vector<ChildDrive> drives;
};

int ExitStatus(const std::vector<ChildDrive>& drives) {
    bool refused = false;
    for (const ChildDrive& drive : drives) {
        const std::string result = ResultOf(drive.record);
        if (result == "failed" || result == "attention") {
            return kExitFailed;
        }
        refused = refused || result == "refused";
    }
    return refused ? kExitRefused : kExitDone;
}

void SayResult(const ChildDrive& drive) {
    const Json& reason = drive.record["reason"];
    std::fprintf(stderr, "%s: %s%s%s\n", drive.drive.Name().c_str(),
                 HumanText(ResultOf(drive.record)).c_str(), reason.is_string() ? ": " : "",
                 reason.is_string() ? HumanText(reason.get<std::string>()).c_str() : "");
}

// A serial number two listed drives report is one drive seen through two paths, most likely:
// flashing it under both would send it the image twice, at once with --jobs.
std::optional<std::string> SharedSerial(const std::vector<DriveIdentity>& listed,
                                        const DriveIdentity& drive) {
    for (const DriveIdentity& other : listed) {
        if (!drive.serial.empty() && other.index != drive.index && other.serial == drive.serial) {
            return "its serial number is also " + other.Name() +
                   "'s (one drive seen through two paths?): refused as ambiguous";
        }
    }
    return std::nullopt;
}

// The drives this run acts on, or the exit status that ends it before any is touched.
std::variant<std::vector<ChildDrive>, int> Choose(const std::vector<DriveIdentity>& listed,
                                                  const CommandLine& line) {
    std::vector<ChildDrive> chosen;
    if (!line.childDrive.empty()) {
        // The parent named the drive at one index; whatever is there now must be that drive.
        const DriveIdentity meant = *DecodeIdentity(line.childDrive);
        ChildDrive drive{meant, Json()};
        bool found = false;
        for (const DriveIdentity& now : listed) {
            if (now.SameDrive(meant)) {
                drive.drive = now;
                found = true;
            }
        }
        if (!found) {
            drive.record = DriveRecord(meant);
            Decide(drive.record, "refused",
                   "the drive at index " + std::to_string(meant.index) +
                       " is no longer the one selected");
        }
        chosen.push_back(std::move(drive));
        return chosen;
    }
    auto selected = ResolveSelectors(listed, line.devices);
    if (const auto* error = std::get_if<SelectionError>(&selected)) {
        std::fprintf(stderr, "fwupgrade: %s\n", error->message.c_str());
        if (error->usage) {
            return kExitUsage;
        }
        return chosen; // none: the document says so
    }
    for (const std::size_t i : std::get<std::vector<std::size_t>>(selected)) {
        chosen.push_back(ChildDrive{listed[i], Json()});
    }
    return chosen;
}

void Act(fw::Kernel& kernel, RunState& state, const CommandLine& line, const RunImage& image,
         const std::vector<DriveIdentity>& listed) {
    std::vector<ChildDrive> children;
    for (ChildDrive& drive : state.drives) {
        if (!drive.record.is_null()) {
            continue; // decided already
        }
        if (line.command == Command::List) {
            drive.record = DriveRecord(drive.drive);
            if (!line.json) {
                std::printf(
                    "%u  %s  %-8s %-16s %s  %s\n", drive.drive.index, drive.drive.Path().c_str(),
                    HumanText(drive.drive.vendor).c_str(), HumanText(drive.drive.product).c_str(),
                    HumanText(drive.drive.revision).c_str(), HumanText(drive.drive.serial).c_str());
            }
            continue;
        }
        if (const auto shared = SharedSerial(listed, drive.drive)) {
            drive.record = DriveRecord(drive.drive);
            Decide(drive.record, "refused", *shared);
        } else if (line.command == Command::Upgrade && line.jobs > 1) {
            children.push_back(drive);
            continue;
        } else {
            drive.record = HandleDrive(kernel, drive.drive, line, image.copy);
        }
        if (!line.json) {
            SayResult(drive);
        }
    }
    UpgradeInChildren(children, line, image);
    for (ChildDrive& child : children) {
        for (ChildDrive& drive : state.drives) {
            if (drive.drive.index == child.drive.index) {
                drive.record = std::move(child.record);
            }
        }
    }
}

int Run(const std::vector<std::string>& arguments, fw::Kernel& kernel, RunState& state) {
    const auto parsed = ParseCommandLine(arguments);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        std::fprintf(stderr, "fwupgrade: %s\n%s", HumanText(error->message).c_str(), UsageText());
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

    Json arguments_json = Json::array();
    for (const std::string& argument : arguments) {
        arguments_json.push_back(JsonText(argument));
    }
    Json document{{"format_version", 1},
                  {"tool", "fwupgrade"},
                  {"version", FWUPGRADE_VERSION},
                  {"arguments", arguments_json},
                  {"host", JsonText(HostName())}};
    // A child reads the copy its parent made; a run of its own makes one.
    std::optional<PrivateFolder> folder;
    if (line.command != Command::List && line.childDrive.empty()) {
        folder.emplace();
    }
    RunImage image;
    if (line.command != Command::List) {
        auto read = ReadImage(line.image, line.sha256, folder ? &*folder : nullptr);
        if (const auto* problem = std::get_if<std::string>(&read)) {
            return Usage(*problem);
        }
        image = std::get<RunImage>(read);
        document["image"] = Json{{"path", JsonText(image.path)},
                                 {"size", image.size},
                                 {"sha256", image.sha256},
                                 {"revision", line.revision}};
    }

    char message[512] = {};
    state.touched = true;
    if (ZurvaxOpen(message, sizeof message) != SCSI_STATUS_OK) {
        return Usage(message);
    }
    if (message[0] != '\0') {
        std::fprintf(stderr, "fwupgrade: %s\n", HumanText(message).c_str());
    }
    const std::vector<DriveIdentity> listed = ListDrives();
    auto chosen = Choose(listed, line);
    if (const int* status = std::get_if<int>(&chosen)) {
        return *status;
    }
    state.drives = std::move(std::get<std::vector<ChildDrive>>(chosen));
    int status = kExitNoDrive;
    if (listed.empty()) {
        std::fprintf(stderr, "fwupgrade: no drive found\n");
    } else if (!state.drives.empty()) {
        Act(kernel, state, line, image, listed);
        status = line.command == Command::List ? kExitDone : ExitStatus(state.drives);
    }

    document["drives"] = Json::array();
    Json summary = Json::object();
    for (const ChildDrive& drive : state.drives) {
        document["drives"].push_back(drive.record);
        if (const std::string result = ResultOf(drive.record); !result.empty()) {
            summary[result] = summary.value(result, 0) + 1;
        }
    }
    document["summary"] = summary;
    document["exit_status"] = status;
    const std::string text = DocumentText(document);
    if (line.json) {
        std::printf("%s\n", text.c_str());
    }
    if (!line.report.empty()) {
        std::ofstream report(line.report, std::ios::binary | std::ios::trunc);
        report << text << "\n";
        if (!report) {
            std::fprintf(stderr, "fwupgrade: the report %s could not be written\n",
                         HumanText(line.report).c_str());
        }
    }
    return status;
}

} // namespace

int RunUnattended(const std::vector<std::string>& arguments, fw::Kernel& kernel) {
    AttachParentConsole();
    RunState state;
    try {
        return Run(arguments, kernel, state);
    } catch (const std::exception& error) {
        // Nothing of the run may end it without a word: say what failed and what each
        // drive got so far.
        std::fprintf(stderr, "fwupgrade: the run stopped: %s\n", HumanText(error.what()).c_str());
        if (!state.touched) {
            return kExitUsage;
        }
        for (const ChildDrive& drive : state.drives) {
            if (!ResultOf(drive.record).empty()) {
                SayResult(drive);
            } else {
                std::fprintf(stderr, "%s: no result\n", drive.drive.Name().c_str());
            }
        }
        return kExitFailed;
    }
}

} // namespace cli

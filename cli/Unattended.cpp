#include "cli/Unattended.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>

#include "cli/Children.h"
#include "cli/CommandLine.h"
#include "cli/Document.h"
#include "cli/Drives.h"
#include "cli/History.h"
#include "cli/Image.h"
#include "cli/Journal.h"
#include "cli/Output.h"
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
    bool failed = false;
    for (const ChildDrive& drive : drives) {
        const std::string result = ResultOf(drive.record);
        const bool interrupted =
            result == "failed" && drive.record["reason"] == kInterruptedBeforeCommit;
        if (result == "attention" || (result == "failed" && !interrupted)) {
            return kExitFailed;
        }
        failed = failed || interrupted;
        refused = refused || result == "refused";
    }
    if (StopRequested() || failed) {
        return kExitInterrupted;
    }
    return refused ? kExitRefused : kExitDone;
}

// The image as the operator named it: a child reads its parent's private copy.
std::string ImageAsNamed(const CommandLine& line, const RunImage& image) {
    const char* named = std::getenv(kImageNamedVariable);
    return !line.childDrive.empty() && named != nullptr ? std::string(named) : image.path;
}

// A child tells its parent each phase as it reaches it.
void SayPhase(RunPhase phase) {
    std::printf("%s\n", PhaseLine(phase).c_str());
    std::fflush(stdout);
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
    // Only an upgrade sends a drive anything that stays: what the journal is for.
    const bool journal = line.command == Command::Upgrade;
    for (ChildDrive& drive : state.drives) {
        if (!drive.record.is_null()) {
            if (journal) {
                JournalOutcome(drive.drive, drive.record, false);
            }
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
        if (StopRequested()) {
            drive.record = DriveRecord(drive.drive);
            Decide(drive.record, "refused", "not started: the run was interrupted");
        } else if (const auto shared = SharedSerial(listed, drive.drive)) {
            drive.record = DriveRecord(drive.drive);
            Decide(drive.record, "refused", *shared);
        } else if (line.command == Command::Upgrade && line.jobs > 1) {
            children.push_back(drive);
            continue;
        } else {
            if (journal) {
                JournalAppend(drive.drive, "started",
                              Json{{"revision_before", JsonText(drive.drive.revision)},
                                   {"image", Json{{"path", JsonText(ImageAsNamed(line, image))},
                                                  {"sha256", image.sha256},
                                                  {"revision", line.revision}}}});
            }
            // On the disk first, then to the parent: what the parent is told is never more
            // than what the journal holds.
            const bool child = !line.childDrive.empty();
            const PhaseListener onPhase = [&](RunPhase phase) {
                if (journal) {
                    JournalPhase(drive.drive, phase);
                }
                if (child) {
                    SayPhase(phase);
                }
            };
            drive.record = HandleDrive(kernel, drive.drive, line, image.copy, onPhase);
        }
        if (journal) {
            JournalOutcome(drive.drive, drive.record, false);
        }
        if (!line.json) {
            SayResult(drive);
        }
    }
    if (!children.empty()) {
        SetEnvironment(kImageNamedVariable, image.path);
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
    if (line.command == Command::History) {
        return RunHistory(line);
    }
    if (line.command == Command::Upgrade && (!line.acceptAgreement || !line.yes)) {
        return Usage("upgrade needs --accept-agreement and --yes: nothing was done");
    }
    if (line.command != Command::List) {
        InstallStopSignals();
    }
    if (!line.childDrive.empty()) {
        StopWhenParentEnds();
    }
    if (line.command == Command::Upgrade) {
        RunName(); // named now, so that every child's journal lines carry this run's name
    }
    if (!line.report.empty()) {
        if (const auto problem = ReportProblem(line.report, line.image)) {
            return Usage(*problem);
        }
    }

    Json arguments_json = Json::array();
    for (const std::string& argument : arguments) {
        arguments_json.push_back(JsonText(argument));
    }
    Json document{{"format_version", 2},
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
    std::optional<std::string> lost;
    if (line.json) {
        lost = PrintDocument(text);
    }
    if (!line.report.empty()) {
        if (const auto problem = WriteReport(line.report, text + "\n")) {
            lost = problem;
        }
    }
    if (lost) {
        // The record is the product: a run whose record was lost did not succeed.
        std::fprintf(stderr, "fwupgrade: %s\n", HumanText(*lost).c_str());
        status = std::max(status, kExitFailed);
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

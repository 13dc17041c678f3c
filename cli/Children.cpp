#include "cli/Children.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>

#include "cli/Journal.h"
#include "cli/Processes.h"
#include "cli/Text.h"
#include "cli/Verdict.h"

namespace cli {
namespace {

constexpr char kPhasePrefix[] = "fwupgrade-phase ";

std::vector<std::string> ChildArguments(const ChildDrive& child, const CommandLine& line,
                                        const RunImage& image) {
    std::vector<std::string> arguments{"upgrade",
                                       "--image",
                                       image.copy,
                                       "--sha256",
                                       image.sha256,
                                       "--revision",
                                       line.revision,
                                       "--child-drive",
                                       EncodeIdentity(child.drive),
                                       "--accept-agreement",
                                       "--yes",
                                       "--json"};
    if (line.allowOlder) {
        arguments.emplace_back("--allow-older");
    }
    return arguments;
}

// The drive as a process of its own lists it now: this process's view of the drives is the
// one it took at its start.
std::optional<DriveIdentity> Relist(const std::string& self, const DriveIdentity& drive) {
    Child lister(self, {"list", "--json"});
    while (!lister.Poll()) {
    }
    const Json document = ParseText(lister.Output());
    if (document.is_discarded() || !document.contains("drives")) {
        return std::nullopt;
    }
    for (const Json& record : document["drives"]) {
        if (Describes(record, drive) && record["revision_before"].is_string()) {
            DriveIdentity now = drive;
            now.revision = record["revision_before"].get<std::string>();
            return now;
        }
    }
    return std::nullopt;
}

// A child that ended without a record, judged by how far it got.
Json JudgeByFacts(const ChildReport& report, const DriveIdentity& drive, const CommandLine& line,
                  const std::string& self) {
    Json record = DriveRecord(drive);
    if (report.reached < RunPhase::CommitSent) {
        Decide(record, "failed",
               "its process ended before the commit; the old firmware still runs");
        return record;
    }
    const std::optional<DriveIdentity> now = Relist(self, drive);
    record["revision_after"] = now ? Json(JsonText(now->revision)) : Json(nullptr);
    if (now && now->revision.size() == line.revision.size() &&
        std::equal(
            now->revision.begin(), now->revision.end(), line.revision.begin(),
            [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; })) {
        Decide(record, "upgraded",
               "its process ended after the commit; the drive is listed at " + line.revision);
    } else {
        Decide(record, "attention",
               now ? "its process ended after the commit; the drive is listed at " + now->revision
                   : "its process ended after the commit; the drive is no longer listed");
    }
    return record;
}

} // namespace

std::string PhaseLine(RunPhase phase) {
    return kPhasePrefix + std::to_string(static_cast<int>(phase));
}

ChildReport ReadChildOutput(const std::string& output, const DriveIdentity& drive) {
    ChildReport report;
    std::string document;
    std::size_t at = 0;
    while (at < output.size()) {
        const std::size_t end = std::min(output.find('\n', at), output.size());
        const std::string line = output.substr(at, end - at);
        if (line.rfind(kPhasePrefix, 0) == 0) {
            const int phase = std::atoi(line.c_str() + sizeof kPhasePrefix - 1);
            if (phase > static_cast<int>(report.reached)) {
                report.reached = static_cast<RunPhase>(phase);
            }
        } else {
            document += line + "\n";
        }
        at = end + 1;
    }
    const Json parsed = ParseText(document);
    if (parsed.is_discarded() || !parsed.is_object() || !parsed.contains("drives") ||
        !parsed["drives"].is_array() || parsed["drives"].size() != 1) {
        return report;
    }
    report.hasRecord = true;
    report.record = parsed["drives"][0];
    if (!Describes(report.record, drive)) {
        // Whatever it did, it did not report on this drive: the drive's state is unknown.
        report.foreign = true;
        report.record = DriveRecord(drive);
        Decide(report.record, "attention", "its process reported on another drive");
    }
    return report;
}

void UpgradeInChildren(std::vector<ChildDrive>& drives, const CommandLine& line,
                       const RunImage& image) {
    const std::string self = SelfPath();
    std::vector<std::pair<ChildDrive*, std::unique_ptr<Child>>> running;
    std::size_t next = 0;
    while (next < drives.size() || !running.empty()) {
        while (next < drives.size() && running.size() < line.jobs) {
            ChildDrive& child = drives[next++];
            if (StopRequested()) {
                child.record = DriveRecord(child.drive);
                Decide(child.record, "refused", "not started: the run was interrupted");
                JournalOutcome(child.drive, child.record, false);
                continue;
            }
            if (!line.json) {
                std::fprintf(stderr, "%s: upgrading in a process of its own\n",
                             child.drive.Name().c_str());
            }
            running.emplace_back(&child,
                                 std::make_unique<Child>(self, ChildArguments(child, line, image)));
        }
        for (auto it = running.begin(); it != running.end();) {
            if (StopRequested()) {
                it->second->Stop();
            }
            if (it->second->Poll()) {
                ChildDrive& child = *it->first;
                const ChildReport report = ReadChildOutput(it->second->Output(), child.drive);
                child.record = report.hasRecord ? report.record
                                                : JudgeByFacts(report, child.drive, line, self);
                // A child's own outcome is in the journal already, from the child.
                if (!report.hasRecord || report.foreign) {
                    JournalOutcome(child.drive, child.record, !report.hasRecord);
                }
                if (!line.json) {
                    std::fprintf(stderr, "%s: %s\n", child.drive.Name().c_str(),
                                 HumanText(ResultOf(child.record)).c_str());
                }
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
}

} // namespace cli

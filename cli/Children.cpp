#include "cli/Children.h"

#include <cstdio>
#include <memory>
#include <utility>

#include "cli/Processes.h"

namespace cli {

Json AcceptChildRecord(const std::string& output, const DriveIdentity& drive) {
    const Json document = Json::parse(output, nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("drives") ||
        !document["drives"].is_array() || document["drives"].size() != 1) {
        Json record = DriveRecord(drive);
        Decide(record, "failed", "its process gave no result");
        return record;
    }
    const Json& record = document["drives"][0];
    if (!Describes(record, drive)) {
        // Whatever it did, it did not report on this drive: the drive's state is unknown.
        Json unknown = DriveRecord(drive);
        Decide(unknown, "attention", "its process reported on another drive");
        return unknown;
    }
    return record;
}

void UpgradeInChildren(std::vector<ChildDrive>& drives, const CommandLine& line,
                       const RunImage& image) {
    const std::string self = SelfPath();
    std::vector<std::pair<ChildDrive*, std::unique_ptr<Child>>> running;
    std::size_t next = 0;
    while (next < drives.size() || !running.empty()) {
        while (next < drives.size() && running.size() < line.jobs) {
            ChildDrive& child = drives[next++];
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
            if (!line.json) {
                std::fprintf(stderr, "%s: upgrading in a process of its own\n",
                             child.drive.Name().c_str());
            }
            running.emplace_back(&child, std::make_unique<Child>(self, arguments));
        }
        for (auto it = running.begin(); it != running.end();) {
            if (it->second->Poll()) {
                ChildDrive& child = *it->first;
                child.record = AcceptChildRecord(it->second->Output(), child.drive);
                if (!line.json) {
                    std::fprintf(stderr, "%s: %s\n", child.drive.Name().c_str(),
                                 ResultOf(child.record).c_str());
                }
                it = running.erase(it);
            } else {
                ++it;
            }
        }
    }
}

} // namespace cli

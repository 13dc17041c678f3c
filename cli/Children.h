// --jobs: each drive upgraded in a process of its own, at most N at a time. A child is told
// exactly which drive (its identity, which it checks against its own listing before it
// sends anything) and which bytes (the run's private copy with its digest, which it checks
// before its first WRITE BUFFER); its record counts only if it names that very drive.
#pragma once

#include <vector>

#include "cli/CommandLine.h"
#include "cli/Document.h"
#include "cli/Drives.h"
#include "cli/Image.h"

namespace cli {

struct ChildDrive {
    DriveIdentity drive;
    Json record; // what became of it, once its process has ended
};

void UpgradeInChildren(std::vector<ChildDrive>& drives, const CommandLine& line,
                       const RunImage& image);

// The record a child returned for drive, accepted only when it describes drive: anything
// else (no document, another drive's record) can never pass for a success.
Json AcceptChildRecord(const std::string& output, const DriveIdentity& drive);

} // namespace cli

// --jobs: each drive upgraded in a process of its own, at most N at a time. A child is told
// exactly which drive (its identity, which it checks against its own listing before it
// sends anything) and which bytes (the run's private copy with its digest, which it checks
// before its first WRITE BUFFER); its record counts only if it names that very drive.
// A child says each phase of its download on standard output as it reaches it, before its
// document, so that one that ends without a record is judged by how far it got.
#pragma once

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Document.h"
#include "cli/Drives.h"
#include "cli/Image.h"
#include "scsi/RunObserver.h"

namespace cli {

struct ChildDrive {
    DriveIdentity drive;
    Json record; // what became of it, once its process has ended
};

// Upgrades drives in children. After the run's stop no child is started (its drive is
// refused, untouched) and the running ones are asked to stop; each is waited for.
void UpgradeInChildren(std::vector<ChildDrive>& drives, const CommandLine& line,
                       const RunImage& image);

// The line a child prints for a phase, and the phase such a line names.
std::string PhaseLine(RunPhase phase);

// What a child's output (its phase lines, then its document) says of drive. A record that
// describes another drive is attention, never a success; without a record, a child that
// never sent the commit failed with the old firmware still running, one that did is
// settled by relisted (the drive as a fresh listing finds it, or nothing).
// The check below sees nlohmann::json's invariant assertion inside its noexcept move.
// NOLINTNEXTLINE(bugprone-exception-escape)
struct ChildReport {
    RunPhase reached{}; // the last phase it said
    bool hasRecord = false;
    bool foreign = false; // its record named another drive: record says attention instead
    Json record;
};
ChildReport ReadChildOutput(const std::string& output, const DriveIdentity& drive);

} // namespace cli

// One drive checked or upgraded in this process, and the result the run reports for it,
// decided from what the program's own code recorded as it went (RunObserver), never from the
// texts it showed.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/CommandLine.h"
#include "cli/Document.h"
#include "cli/Drives.h"
#include "framework/Platform.h"
#include "scsi/RunObserver.h"

namespace cli {

// Told each phase of the drive's download as it happens, on the thread that reaches it.
using PhaseListener = std::function<void(RunPhase)>;

// Runs the program's windows for drive (the worker reading image, the run's copy) and decides
// the drive's record: upgraded, current, would-upgrade, refused, failed or attention. A stop
// the run was asked for (StopRequested) ends the download before its commit; once the commit
// is sent the worker runs to its end.
Json HandleDrive(fw::Kernel& kernel, const DriveIdentity& drive, const CommandLine& line,
                 const std::string& image, const PhaseListener& onPhase);

// The revision a fresh listing finds the drive at (by serial, by index for a drive without
// one), or nothing when it is no longer listed.
std::optional<std::string> RevisionNow(const DriveIdentity& drive);

// The result of a drive whose commit was sent, from the revision it is listed at afterwards
// (nothing: no longer listed): upgraded when it is at revision (the image's, upper case) and
// was back ready, attention otherwise, with its reason.
void DecideAfterCommit(Json& record, const std::optional<std::string>& after,
                       const std::string& revision, bool ready);

// Fixed-format sense data as numbers with their names, and its bytes in hex.
Json SenseJson(const SENSE_DATA& sense);

// "2026-12-09T04:20:00Z": now, in UTC.
std::string UtcNow();

// The reason of a drive stopped by the run's stop before its commit.
inline constexpr char kInterruptedBeforeCommit[] =
    "interrupted before the commit; the old firmware still runs";

} // namespace cli

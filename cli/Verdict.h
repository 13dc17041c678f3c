// One drive checked or upgraded in this process, and the result the run reports for it.
#pragma once

#include <string>

#include "cli/CommandLine.h"
#include "cli/Document.h"
#include "cli/Drives.h"
#include "framework/Platform.h"

namespace cli {

// Runs the program's windows for drive (the worker reading image, the run's copy) and decides
// the drive's record: upgraded, current, would-upgrade, refused, failed or attention.
Json HandleDrive(fw::Kernel& kernel, const DriveIdentity& drive, const CommandLine& line,
                 const std::string& image);

} // namespace cli

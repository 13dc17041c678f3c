// The unattended commands: list, check and upgrade many drives from a script, with JSON
// results and exit statuses a script can act on. They go through the very scan, selection,
// upgrade request and download worker the windows run, with the headless window system
// playing the operator by policy: it agrees only when told to, confirms only an upgrade,
// always asks for the sense data, and keeps every message box as the drive's record.
#pragma once

#include <string>
#include <vector>

#include "framework/Platform.h"

namespace cli {

// Exit statuses.
inline constexpr int kExitDone = 0;    // every selected drive upgraded, current or would-upgrade
inline constexpr int kExitFailed = 1;  // a drive failed or needs attention
inline constexpr int kExitUsage = 2;   // usage error or bad input
inline constexpr int kExitRefused = 3; // a drive was refused, none failed
inline constexpr int kExitNoDrive = 4; // no drive matched
// The run was stopped (SIGINT, SIGTERM, SIGHUP, a console's control event): no drive was
// started after it, a transfer under way stopped before its commit, a commit sent was seen
// through. A drive in need of attention, or failed for another reason, makes it kExitFailed.
inline constexpr int kExitInterrupted = 5;

// Runs the command the arguments (without the program's name) give; never draws a window.
// The program's windows run on kernel (the program's: a real-time one; tests: virtual time).
// Returns the exit status.
int RunUnattended(const std::vector<std::string>& arguments, fw::Kernel& kernel);

} // namespace cli

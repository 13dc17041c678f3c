// The operator of the program's own windows, played by policy for one drive: agree, choose
// the drive's entry, press Upgrade, confirm (or, for a check, decline at the confirmation),
// always ask for the sense data, then DONE. The program returns once its worker has ended.
#pragma once

#include <string>
#include <vector>

#include "cli/Drives.h"
#include "framework/Platform.h"
#include "framework/headless/Headless.h"

namespace cli {

// What the windows did with one drive.
struct DialogRun {
    bool chosen = false;            // its list entry was found and selected
    bool upgradeOffered = false;    // Upgrade was enabled once it was selected
    bool confirmationAsked = false; // the request reached the operator's confirmation
    std::vector<fw::headless::MessageBoxRecord> boxes; // every box from its selection on
};

// Runs the windows once on kernel for drive, the worker reading image. With progress, the
// chunks sent are said on standard error as they move.
DialogRun RunWindows(fw::Kernel& kernel, const DriveIdentity& drive, const std::string& image,
                     bool confirm, bool progress);

} // namespace cli

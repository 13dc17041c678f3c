// Which drives of the listing a run acts on, from its --device selectors.
//
//   index:N      the drive the library lists at index N
//   path:H:T:L   the drive at host adapter H, target T, LUN L
//   serial:S     the drive whose serial number is S (all after the first colon, colons too)
//   all, N, H:T:L or S alone: the same, where the word has one meaning. A word that names one
//                drive under one meaning and another under a second (an index and another
//                drive's serial; a serial that reads as a path or as all) is refused.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/Drives.h"

namespace cli {

// Why selectors select nothing: a usage error (the run exits 2) or no such drive (exit 4).
// Either way no drive has been touched beyond the listing.
struct SelectionError {
    bool usage = false;
    std::string message; // one line, printable
};

// The selector's form alone, before any drive is listed: a reason it can never select, or
// nothing.
std::optional<std::string> SelectorFormError(const std::string& selector);

// The positions in drives that selectors name, in list order, each once; no selector at all
// means every drive.
std::variant<std::vector<std::size_t>, SelectionError>
ResolveSelectors(const std::vector<DriveIdentity>& drives,
                 const std::vector<std::string>& selectors);

} // namespace cli

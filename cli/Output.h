// Where a run's record goes: the document on standard output (--json) and the --report file.
// Both are checked before any drive is touched, and a record that could not be written is
// never passed over in silence.
#pragma once

#include <optional>
#include <string>

namespace cli {

// Why report cannot take the run's document (its folder missing or not writable, or the
// report the image itself), or nothing.
std::optional<std::string> ReportProblem(const std::string& report, const std::string& image);

// Writes text to report whole or not at all: a regular file (or none yet) through a new file
// in its folder, flushed, closed and renamed into place; anything else (a device, a pipe)
// written straight. Nothing, or the one-line reason it failed.
std::optional<std::string> WriteReport(const std::string& report, const std::string& text);

// Prints text to standard output and flushes it; the reason it failed, or nothing.
std::optional<std::string> PrintDocument(const std::string& text);

} // namespace cli

#include "cli/Output.h"

#include <cstdio>

#include "cli/Files.h"
#include "cli/Processes.h"

namespace cli {
namespace {

std::string TemporaryBeside(const std::string& report) {
    return report + ".fwupgrade-" + std::to_string(ProcessId()) + ".tmp";
}

} // namespace

std::optional<std::string> ReportProblem(const std::string& report, const std::string& image) {
    if (!image.empty() && SameFile(report, image)) {
        return "the report " + report + " is the image: it would be overwritten";
    }
    if (KindOf(report) == PathKind::Other) {
        return std::nullopt; // a device or a pipe: written straight, checked then
    }
    // The surest test of a folder is to make a file in it, as the report will.
    const std::string probe = TemporaryBeside(report);
    {
        NewFile file(probe);
        if (!file.Opened()) {
            return "the report " + report + " cannot be written: its folder " + FolderOf(report) +
                   " is missing or not writable";
        }
    }
    return std::nullopt;
}

std::optional<std::string> WriteReport(const std::string& report, const std::string& text) {
    const std::string failed = "the report " + report + " could not be written";
    if (KindOf(report) == PathKind::Other) {
        std::FILE* file = std::fopen(report.c_str(), "wb");
        if (file == nullptr) {
            return failed;
        }
        const bool wrote =
            std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
        return (std::fclose(file) == 0 && wrote) ? std::nullopt : std::optional(failed);
    }
    const std::string temporary = TemporaryBeside(report);
    NewFile file(temporary);
    if (!file.Opened() || !file.Write(text.data(), text.size()) || !file.Finish(false)) {
        return failed;
    }
    if (!ReplaceWith(temporary, report)) {
        RemoveFile(temporary);
        return failed;
    }
    return std::nullopt;
}

std::optional<std::string> PrintDocument(const std::string& text) {
    const bool printed = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
                         std::fputc('\n', stdout) != EOF && std::fflush(stdout) == 0;
    if (!printed) {
        return "the document could not be written to standard output";
    }
    return std::nullopt;
}

} // namespace cli

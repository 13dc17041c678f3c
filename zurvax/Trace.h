// The ZURVAX_TRACE call log: one line per C call, written and flushed at once so that a
// crash or a reader in another process never misses a finished call.
#pragma once

#include <string>

namespace zurvax {

class TraceLog {
public:
    TraceLog() = default;
    TraceLog(const TraceLog&) = delete;
    TraceLog& operator=(const TraceLog&) = delete;

    // Empty path: tracing off.
    void setPath(std::string path) { path_ = std::move(path); }
    bool enabled() const { return !path_.empty(); }
    // Appends line and a newline. The file is opened per line, so that tests may remove
    // or truncate it between calls on any OS.
    void write(const std::string& line) const;

private:
    std::string path_;
};

} // namespace zurvax

#include "zurvax/Trace.h"

#include <cstdio>

namespace zurvax {

void TraceLog::write(const std::string& line) const {
    if (path_.empty())
        return;
    std::FILE* file = std::fopen(path_.c_str(), "ab");
    if (file == nullptr)
        return; // tracing must never change what a call returns
    std::fputs(line.c_str(), file);
    std::fputc('\n', file);
    std::fflush(file);
    std::fclose(file);
}

} // namespace zurvax

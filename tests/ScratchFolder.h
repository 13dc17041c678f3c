#pragma once

#include <atomic>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace fwtest {

inline std::atomic<unsigned> g_nextScratchFolder{0};

// A new, empty folder under the system's temporary folder that no other test process shares:
// the suites run side by side (and whole test runs may too), so a name from the clock or from
// the test's name alone can be handed to two processes at once. The caller removes it.
inline std::filesystem::path NewScratchFolder(const std::string& prefix) {
#ifdef _WIN32
    const auto process = std::to_string(_getpid());
#else
    const auto process = std::to_string(getpid());
#endif
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        // create_directory is false for a folder that exists already (left by a crashed run
        // whose process number came round again): take the next name rather than its files.
        auto folder = base / (prefix + "-" + process + "-" + std::to_string(g_nextScratchFolder++));
        if (std::filesystem::create_directory(folder)) {
            return folder;
        }
    }
}

} // namespace fwtest

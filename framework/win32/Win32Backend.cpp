// The Win32 program's backend: the real window system and kernel, and start-up failures
// told in a message box.
#include "framework/win32/Win32Native.h"

#include <string>

#include "framework/Backend.h"
#include "framework/win32/Win32Kernel.h"
#include "framework/win32/Win32Windows.h"

namespace fw {
namespace {

struct Win32State final : BackendRun::State {
    win32::Win32Kernel kernel;
    win32::Win32WindowSystem windows;
    ~Win32State() override { InstallPlatform(nullptr, nullptr); }
};

std::string SystemModulePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const ::DWORD length =
            ::GetModuleFileNameA(nullptr, path.data(), static_cast<::DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

} // namespace

BackendRun StartBackend() {
    // Whatever the system loads by name later is never taken from the current directory.
    ::SetDllDirectoryA("");
    auto state = std::make_unique<Win32State>();
    InstallPlatform(&state->windows, &state->kernel);
    return BackendRun(std::move(state));
}

std::string ModuleFileName(const char*) { return SystemModulePath(); }

} // namespace fw

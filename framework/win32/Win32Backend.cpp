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

std::string ModulePath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const ::DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<::DWORD>(path.size()));
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

void ReportStartupFailure(const char* message) {
    // The caption every other box of the application carries: its name.
    CWinApp* app = AfxGetApp();
    const std::string path = ModulePath();
    if (app != nullptr) {
        app->SetModulePath(path.c_str());
    }
    const char* caption = app != nullptr ? app->m_pszAppName : "";
    ::MessageBoxA(nullptr, message, caption, MB_OK | MB_ICONSTOP | MB_TOPMOST | MB_SETFOREGROUND);
}

} // namespace fw

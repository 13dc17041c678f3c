// The terminal program's backend: a real-time kernel whose workers are counted, and the
// curses window system on top of the model.

#include "framework/Backend.h"
#include "framework/kernel/RealKernel.h"
#include "framework/tui/TuiWindowSystem.h"
#include "framework/tui/WorkerKernel.h"

namespace fw {
namespace {

struct TuiState final : BackendRun::State {
    TuiState() : kernel(realKernel), windows(kernel) {
        kernel.OnWorkersChanged([this](int live) { windows.WorkersChanged(live); });
        InstallPlatform(&windows, &kernel);
    }
    TuiState(const TuiState&) = delete;
    TuiState& operator=(const TuiState&) = delete;
    ~TuiState() override {
        // A download that outlived the windows still gets its boxes answered and its end
        // awaited before the terminal is given back.
        windows.FinishWorkers();
        windows.EndScreen();
        InstallPlatform(nullptr, nullptr);
    }

    RealKernel realKernel;
    tui::WorkerKernel kernel;
    tui::TuiWindowSystem windows;
};

} // namespace

BackendRun StartBackend() { return BackendRun(std::make_unique<TuiState>()); }

std::string ModuleFileName(const char* argv0) { return argv0 != nullptr ? argv0 : ""; }

} // namespace fw

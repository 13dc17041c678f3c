// The headless backend as a program: it accepts the agreement, shows what the windows
// hold on standard output, and leaves. A way to see the program work where no terminal or
// display is at hand.

#include "framework/Backend.h"
#include "framework/headless/Headless.h"
#include "res/resource.h"

namespace fw {
namespace {

struct DemoState final : BackendRun::State {
    headless::HeadlessSession session;
};

} // namespace

BackendRun StartBackend() {
    auto state = std::make_unique<DemoState>();
    headless::Headless& windows = state->session.windows;
    windows.Echo(true);
    windows.Then(IDD_AGREEMENT, [](headless::Headless& ui) { ui.Click(IDOK); });
    windows.Then(IDD_DEVICE_DIALOG, [](headless::Headless& ui) { ui.Click(IDOK); });
    return BackendRun(std::move(state));
}

std::string ModuleFileName(const char* argv0) { return argv0 != nullptr ? argv0 : ""; }

} // namespace fw

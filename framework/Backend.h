// What each backend gives the program's entry: the platform installed for the life of the
// run, and a way to tell the operator why the program cannot start. Exactly one backend
// library defining these is linked into each executable.
#pragma once

#include <memory>

namespace fw {

class BackendRun {
public:
    struct State {
        virtual ~State() = default;
    };
    explicit BackendRun(std::unique_ptr<State> state) : m_state(std::move(state)) {}

private:
    std::unique_ptr<State> m_state;
};

// Installs the backend's window system and kernel; they stay until the result is destroyed.
BackendRun StartBackend();
// Tells the operator, before any window exists, why the program cannot start.
void ReportStartupFailure(const char* message);

} // namespace fw

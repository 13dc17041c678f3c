// What each backend gives the program's entry: the platform installed for the life of the
// run, and the running program's own path. Exactly one backend library defining these is
// linked into each executable.
#pragma once

#include <memory>
#include <string>

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
// The path of the running executable: the system's own record of it where there is one,
// whatever the launcher passed as argv0; else argv0.
std::string ModuleFileName(const char* argv0);

} // namespace fw

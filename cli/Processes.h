// The little the unattended commands need of the operating system beyond the framework: this
// program's own path, the host's name, and child processes of itself whose standard output
// is collected (one per drive, for --jobs).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace cli {

// The running executable's full path.
std::string SelfPath();
std::string HostName();
unsigned long ProcessId();
// Sets a variable of this process's environment, which the children it starts inherit.
void SetEnvironment(const std::string& name, const std::string& value);

// One child process running program with arguments, its standard output collected; its
// standard error is the parent's. Not copyable: it owns the process, which it waits for
// when destroyed.
class Child {
public:
    Child(const std::string& program, const std::vector<std::string>& arguments);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const;
    // Asks the child to stop as the run's own stop signals would (its drive's commit, once
    // sent, still runs to its end). Once is enough; further calls do nothing.
    void Stop();
    // Reads what is ready of the output without blocking; true once the child has ended and
    // all its output is in.
    bool Poll();
    const std::string& Output() const { return m_output; }

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
    std::string m_output;
};

// The run's stop: from InstallStopSignals on, SIGINT, SIGTERM and SIGHUP (on Windows the
// console's control events) only record that a stop was asked for, and a write to a closed
// pipe fails as an error instead of ending the process. StopRequested stays true once set.
void InstallStopSignals();
bool StopRequested();
// A child of a run: a parent that goes away counts as a stop, so that no drive is started or
// left unsupervised by a run nobody waits for (Linux; elsewhere nothing).
void StopWhenParentEnds();

// On Windows, a GUI-subsystem program has no console of its own: standard output and error
// go to the console of the program that started it, where there is one. Elsewhere nothing.
void AttachParentConsole();

} // namespace cli

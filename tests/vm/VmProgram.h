// What the programs that run inside the qemu tests (tests/kernel, tests/tcmu) share: one
// line per check on the serial console for the host script to collect, and one run of the
// program's own code against the kernel's /dev/sg nodes with the headless window system
// playing the operator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "framework/headless/Headless.h"

namespace vmtest {

// Prints "<prefix> PASS <name>" or "<prefix> FAIL <name>: <why>" and flushes at once, so
// that a run the VM cuts short still shows every check it made.
class Checks {
public:
    explicit Checks(std::string prefix) : m_prefix(std::move(prefix)) {}
    void Check(const std::string& name, bool passed, const std::string& why);
    int Failures() const { return m_failures; }

private:
    std::string m_prefix;
    int m_failures = 0;
};

// "[a] [b] " for the why of a failed check.
std::string Joined(const std::vector<std::string>& lines);
bool StartsWith(const std::string& text, const std::string& prefix);

// Host and target of sg0 as sysfs names them ("H:C:T:L"), learned apart from SG_IO.
std::optional<std::pair<int, int>> SysfsAddress();

// One run of the program: a fresh folder under /tmp made current (image, trace, registry
// file), no emulation, the library reset, and a headless session in virtual time. The
// library is reset again when the run ends.
class ProgramRun {
public:
    ProgramRun();
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    fw::headless::Headless& ui() { return m_session.windows; }
    const std::string& Folder() const { return m_folder; }
    // The image file the program reads, in its folder.
    void WriteImage(const std::vector<std::uint8_t>& image) const;

    // ZurvaxOpen's status; message gets its text.
    static std::uint32_t Open(std::string& message);
    // The program as its entry runs it, until its last thread has ended.
    void RunProgram();

    // The library's call log, a line per call.
    std::vector<std::string> Trace() const;
    std::vector<std::string> TraceOf(const std::string& prefix) const;
    std::vector<std::string> BoxTexts();
    std::vector<std::string> WorkerBoxTexts();
    // The main window's device list when it closed.
    std::vector<std::string> ListItems();

private:
    fw::headless::HeadlessSession m_session;
    std::string m_folder;
};

} // namespace vmtest

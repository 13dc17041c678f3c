#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "cli/Processes.h"

namespace cli {

std::string SelfPath() {
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void SetEnvironment(const std::string& name, const std::string& value) {
    // Through the C library, so that its getenv sees it as well as the children do.
    ::_putenv_s(name.c_str(), value.c_str());
}

std::string HostName() {
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    return ::GetComputerNameA(name, &size) ? std::string(name, size) : std::string();
}

unsigned long ProcessId() { return ::GetCurrentProcessId(); }

void AttachParentConsole() {
    // Output already redirected (to a file or a pipe) is left where it goes.
    if (::GetStdHandle(STD_OUTPUT_HANDLE) != nullptr &&
        ::GetFileType(::GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN) {
        return;
    }
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        // A stream the console refuses stays as it was: there is nowhere else to say so.
        std::FILE* ignored = nullptr;
        static_cast<void>(freopen_s(&ignored, "CONOUT$", "w", stdout));
        static_cast<void>(freopen_s(&ignored, "CONOUT$", "w", stderr));
    }
}

namespace {
std::atomic<bool> g_stop{false};

BOOL WINAPI OnControlEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_stop = true;
        return TRUE; // handled: the run ends by itself, its record written
    default:
        return FALSE;
    }
}
} // namespace

void InstallStopSignals() { ::SetConsoleCtrlHandler(OnControlEvent, TRUE); }

bool StopRequested() { return g_stop; }

// Children share the parent's console and get its control events themselves.
void StopWhenParentEnds() {}

struct Child::Impl {
    PROCESS_INFORMATION process{};
    HANDLE output = nullptr;
    bool ended = false;
};

namespace {

// One argument as the C runtime splits a command line again.
std::string Quoted(const std::string& argument) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

} // namespace

Child::Child(const std::string& program, const std::vector<std::string>& arguments)
    : m_impl(std::make_unique<Impl>()) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) {
        return;
    }
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    std::string commandLine = Quoted(program);
    for (const auto& argument : arguments) {
        commandLine += " " + Quoted(argument);
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = write;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    const BOOL started =
        ::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                         CREATE_NO_WINDOW, nullptr, nullptr, &startup, &m_impl->process);
    ::CloseHandle(write);
    if (!started) {
        ::CloseHandle(read);
        m_impl->process = PROCESS_INFORMATION{};
        return;
    }
    m_impl->output = read;
}

Child::~Child() {
    if (m_impl->output != nullptr) {
        ::CloseHandle(m_impl->output);
    }
    if (m_impl->process.hProcess != nullptr) {
        ::WaitForSingleObject(m_impl->process.hProcess, INFINITE);
        ::CloseHandle(m_impl->process.hProcess);
        ::CloseHandle(m_impl->process.hThread);
    }
}

bool Child::Started() const { return m_impl->process.hProcess != nullptr; }

// The console's control event reaches every process on it, this child too; a child of a
// process without a console has nobody to interrupt it but this process, which waits for it.
void Child::Stop() {}

bool Child::Poll() {
    if (!Started() || m_impl->ended) {
        return true;
    }
    DWORD available = 0;
    if (!::PeekNamedPipe(m_impl->output, nullptr, 0, nullptr, &available, nullptr)) {
        // The pipe broke: the child has ended and everything it wrote was read.
        m_impl->ended = true;
        return true;
    }
    if (available == 0) {
        ::Sleep(100);
        return false;
    }
    std::string chunk(available, '\0');
    DWORD got = 0;
    if (::ReadFile(m_impl->output, chunk.data(), available, &got, nullptr)) {
        m_output.append(chunk.data(), got);
    }
    return false;
}

} // namespace cli

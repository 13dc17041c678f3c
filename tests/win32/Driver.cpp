#include "tests/win32/Driver.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;

std::string Narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                          size, nullptr, nullptr);
    return narrow;
}

std::string ClassName(HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

// The child's environment: the driver's own, without the library's settings, plus options.
std::string EnvironmentBlock(const std::vector<std::pair<std::string, std::string>>& extra) {
    std::map<std::string, std::string> variables;
    char* block = ::GetEnvironmentStringsA();
    for (const char* entry = block; *entry != '\0'; entry += std::strlen(entry) + 1) {
        const std::string text = entry;
        const auto equals = text.find('=', 1);
        if (equals == std::string::npos || text.rfind("ZURVAX_", 0) == 0) {
            continue;
        }
        variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    ::FreeEnvironmentStringsA(block);
    for (const auto& [name, value] : extra) {
        variables[name] = value;
    }
    std::string result;
    for (const auto& [name, value] : variables) {
        result += name;
        result += '=';
        result += value;
        result += '\0';
    }
    result += '\0';
    return result;
}

struct WindowSearch {
    DWORD process;
    std::vector<HWND> found;
};

// A named callback: a lambda does not convert to the 32-bit WINAPI calling convention.
BOOL CALLBACK CollectWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD process = 0;
    ::GetWindowThreadProcessId(window, &process);
    if (process == search->process && ::IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

} // namespace

std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    return path;
}

std::string Env(const char* name, const std::string& fallback) {
    char value[4096] = {};
    const DWORD length = ::GetEnvironmentVariableA(name, value, sizeof value);
    return length > 0 && length < sizeof value ? std::string(value, length) : fallback;
}

std::string ProgramFolder() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.find_last_of("\\/") + 1);
}

std::string ReadFile(const std::string& windowsPath) {
    std::ifstream file(windowsPath, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& windowsPath, const std::string& text) {
    std::ofstream file(windowsPath, std::ios::binary | std::ios::trunc);
    file << text;
    ASSERT_TRUE(file.good()) << "cannot write " << windowsPath;
}

bool Poll(const std::function<bool()>& check, Duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (check()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(50ms);
    }
}

// ---------------------------------------------------------------------------------------

Program::Program(Options options) {
    if (options.exe.empty()) {
        options.exe = ProgramFolder() + "fwupgrade.exe";
    }
    if (options.workingFolder.empty()) {
        options.workingFolder = ProgramFolder();
    }
    std::string commandLine = "\"" + (options.argv0.empty() ? options.exe : options.argv0) + "\"";
    std::string environment = EnvironmentBlock(options.env);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    const BOOL started =
        ::CreateProcessA(options.exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                         environment.data(), options.workingFolder.c_str(), &startup, &m_info);
    if (!started) {
        m_exited = true;
        ADD_FAILURE() << "cannot start " << options.exe << " (error " << ::GetLastError() << ")";
    }
}

Program::~Program() {
    if (!m_exited && m_info.hProcess != nullptr &&
        ::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_info.hProcess, 99);
        ::WaitForSingleObject(m_info.hProcess, 10000);
    }
    if (m_info.hProcess != nullptr) {
        ::CloseHandle(m_info.hProcess);
        ::CloseHandle(m_info.hThread);
    }
}

DWORD Program::WaitExit(Duration timeout) {
    if (m_info.hProcess == nullptr ||
        ::WaitForSingleObject(m_info.hProcess, static_cast<DWORD>(timeout.count())) !=
            WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    m_exited = true;
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(m_info.hProcess, &code);
    return code;
}

std::vector<HWND> Program::Windows() const {
    WindowSearch search{m_info.dwProcessId, {}};
    ::EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND Program::FindWindow(const std::string& caption) const {
    for (HWND window : Windows()) {
        if (Text(window) == caption) {
            return window;
        }
    }
    return nullptr;
}

HWND Program::WaitWindow(const std::string& caption, Duration timeout) const {
    HWND found = nullptr;
    if (!Poll([&] { return (found = FindWindow(caption)) != nullptr; }, timeout)) {
        ADD_FAILURE() << "no window \"" << caption << "\" within " << timeout.count()
                      << " ms; the program shows:\n"
                      << Describe();
    }
    return found;
}

bool Program::WaitGone(const std::string& caption, Duration timeout) const {
    const bool gone = Poll([&] { return FindWindow(caption) == nullptr; }, timeout);
    if (!gone) {
        ADD_FAILURE() << "window \"" << caption << "\" still shown after " << timeout.count()
                      << " ms; the program shows:\n"
                      << Describe();
    }
    return gone;
}

HWND Program::FindMessageBox(const std::string& caption, const std::string& part) const {
    for (HWND window : Windows()) {
        if (Text(window) == caption && ::GetDlgItem(window, kMessageBoxTextId) != nullptr &&
            MessageBoxText(window).find(part) != std::string::npos) {
            return window;
        }
    }
    return nullptr;
}

HWND Program::WaitMessageBox(const std::string& caption, const std::string& part,
                             Duration timeout) const {
    HWND found = nullptr;
    if (!Poll([&] { return (found = FindMessageBox(caption, part)) != nullptr; }, timeout)) {
        ADD_FAILURE() << "no message box \"" << caption << "\" saying \"" << part << "\" within "
                      << timeout.count() << " ms; the program shows:\n"
                      << Describe();
    }
    return found;
}

std::string Program::Describe() const {
    std::string text;
    for (HWND window : Windows()) {
        text += "  [" + ClassName(window) + "] \"" + Text(window) + "\"";
        if (::GetDlgItem(window, kMessageBoxTextId) != nullptr) {
            text += ": \"" + MessageBoxText(window) + "\"";
        }
        text += ::IsWindowEnabled(window) ? "\n" : " (disabled)\n";
    }
    return text.empty() ? "  (no visible window)\n" : text;
}

// ---------------------------------------------------------------------------------------

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &result)) {
        // A window may close between being found and being asked: only a window that is
        // still there and does not answer is a fault.
        if (!::IsWindow(window)) {
            return 0;
        }
        ADD_FAILURE() << "message " << message << " to window " << window << " got no answer";
        return -1;
    }
    return static_cast<LRESULT>(result);
}

std::string Text(HWND window) {
    if (window == nullptr) {
        return {};
    }
    const LRESULT length = Send(window, WM_GETTEXTLENGTH);
    if (length <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT got =
        Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return Narrow(text);
}

std::string ItemText(HWND dialog, int id) {
    HWND item = ::GetDlgItem(dialog, id);
    EXPECT_NE(item, nullptr) << "no control " << id;
    return Text(item);
}

std::string MessageBoxText(HWND box) { return Text(::GetDlgItem(box, kMessageBoxTextId)); }

std::vector<std::string> ListItems(HWND list) {
    std::vector<std::string> items;
    const LRESULT count = Send(list, LB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = Send(list, LB_GETTEXTLEN, static_cast<WPARAM>(i));
        std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
        const LRESULT got =
            Send(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        items.push_back(Narrow(text));
    }
    return items;
}

void Click(HWND dialog, int id) {
    HWND button = ::GetDlgItem(dialog, id);
    ASSERT_NE(button, nullptr) << "no button " << id;
    ::PostMessageW(button, BM_CLICK, 0, 0);
}

HWND PressKey(HWND window, WORD virtualKey) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = ::GetWindowThreadProcessId(window, nullptr);
    if (!::GetGUIThreadInfo(thread, &info) || info.hwndFocus == nullptr) {
        ADD_FAILURE() << "no control has the focus in the thread of window " << window;
        return nullptr;
    }
    const UINT scan = ::MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | (static_cast<LPARAM>(scan) << 16);
    const LPARAM up = down | (LPARAM{1} << 30) | (LPARAM{1} << 31);
    ::PostMessageW(info.hwndFocus, WM_KEYDOWN, virtualKey, down);
    ::PostMessageW(info.hwndFocus, WM_KEYUP, virtualKey, up);
    return info.hwndFocus;
}

bool Screenshot(const std::string& name) {
    const std::string folder = Env("FWUPGRADE_SCREENSHOTS");
    const std::string display = Env("DISPLAY");
    if (folder.empty() || display.empty()) {
        ADD_FAILURE() << "FWUPGRADE_SCREENSHOTS and DISPLAY must be set";
        return false;
    }
    const std::string file = folder + "/" + name + ".png";
    ::DeleteFileA(WindowsPath(file).c_str());
    // A Unix program, which Wine starts when the command names one; renamed when complete
    // so that the file is never seen half written.
    std::string command = "/bin/sh -c \"import -window root -display " + display + " '" + file +
                          ".part.png' && mv '" + file + ".part.png' '" + file + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        ADD_FAILURE() << "cannot start ImageMagick's import (error " << ::GetLastError() << ")";
        return false;
    }
    if (info.hProcess != nullptr) {
        ::CloseHandle(info.hProcess);
    }
    if (info.hThread != nullptr) {
        ::CloseHandle(info.hThread);
    }
    const bool saved = Poll(
        [&] { return ::GetFileAttributesA(WindowsPath(file).c_str()) != INVALID_FILE_ATTRIBUTES; },
        30s);
    EXPECT_TRUE(saved) << "no screenshot " << file;
    return saved;
}

} // namespace e2e

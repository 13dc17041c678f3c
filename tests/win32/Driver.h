// Drives fwupgrade.exe from another process of the same Wine session, as an operator
// would: windows are found by their captions and texts, buttons pressed with BM_CLICK,
// keys sent to the focused control. Every wait polls with a bounded timeout; a wait that
// runs out fails the test with what was awaited and the windows the program shows.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;

// Generous: Wine starts processes slowly on a busy build machine.
inline constexpr Duration kWindowTimeout = 45s;

// A Unix path as Wine's Z: drive names it.
std::string WindowsPath(const std::string& unixPath);
// The environment variable's value, or fallback.
std::string Env(const char* name, const std::string& fallback = {});
// The folder the driver (and fwupgrade.exe beside it) was started from, with a backslash.
std::string ProgramFolder();
std::string ReadFile(const std::string& windowsPath);
void WriteFile(const std::string& windowsPath, const std::string& text);

// Runs check every 50 ms until it returns true or timeout passes; false then.
bool Poll(const std::function<bool()>& check, Duration timeout);

// One run of fwupgrade.exe. Not copyable: it owns the process, which it ends if the test
// has not seen it exit.
class Program {
public:
    struct Options {
        std::string exe;           // default: ProgramFolder() + "fwupgrade.exe"
        std::string workingFolder; // default: ProgramFolder()
        std::vector<std::pair<std::string, std::string>> env; // set in the child only
        std::string argv0; // the name the launcher gives; default: exe
    };
    explicit Program(Options options);
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program();

    DWORD Id() const { return m_info.dwProcessId; }
    // The exit code once the process ended within timeout; STILL_ACTIVE otherwise.
    DWORD WaitExit(Duration timeout);

    // Visible top-level windows of the process, with their captions.
    std::vector<HWND> Windows() const;
    // A visible top-level window with exactly this caption, or null.
    HWND FindWindow(const std::string& caption) const;
    // Waits for such a window; fails the test (and returns null) when none comes.
    HWND WaitWindow(const std::string& caption, Duration timeout = kWindowTimeout) const;
    // Waits until no such window is shown.
    bool WaitGone(const std::string& caption, Duration timeout = kWindowTimeout) const;
    // A message box with this caption whose text contains part, or null.
    HWND FindMessageBox(const std::string& caption, const std::string& part) const;
    HWND WaitMessageBox(const std::string& caption, const std::string& part,
                        Duration timeout = kWindowTimeout) const;
    // What the program shows, for failure messages.
    std::string Describe() const;

private:
    PROCESS_INFORMATION m_info{};
    bool m_exited = false;
};

// Text of any window, read with WM_GETTEXT (another process's controls need that).
std::string Text(HWND window);
// The text of a dialog's control.
std::string ItemText(HWND dialog, int id);
// A message box's text: the static control 0xFFFF.
std::string MessageBoxText(HWND box);
// List box contents through the W messages (the A ones crash Wine 8 across processes).
std::vector<std::string> ListItems(HWND list);
// A message sent with a time limit; 0 when the window has gone meanwhile.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// Presses a dialog's button without waiting for what it starts.
void Click(HWND dialog, int id);
// Sends a key press to the control that has the focus in the window's thread; returns
// that control.
HWND PressKey(HWND window, WORD virtualKey);

// Saves a PNG of the whole screen as <FWUPGRADE_SCREENSHOTS>/<name>.png with ImageMagick,
// started as a Unix program; true once the file is there.
bool Screenshot(const std::string& name);

} // namespace e2e

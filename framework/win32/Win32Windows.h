// The window system over the real Win32 API: dialogs come from the executable's resource
// templates and run in the system's dialog manager; one dialog procedure hands every
// message to the dialog object's message map.
//
// Default handling: the class layer's CWnd::Default() ends in DefWindowProc below. Inside
// the dialog procedure that call only marks the message as not handled, so the procedure
// answers FALSE and the dialog manager (DefDlgProc, which called the procedure) does the
// default itself. Calling DefDlgProc from the procedure would enter it again.
//
// Message boxes: a box with no owner is made topmost and brought to the foreground, as it
// would otherwise open behind the topmost main window (a worker thread's boxes never have
// an owner; nor do the user-interface thread's tape error boxes).
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "framework/Platform.h"

namespace fw::win32 {

class Win32WindowSystem final : public WindowSystem {
public:
    // Registers the common control classes the templates name (progress bar, animation).
    Win32WindowSystem();
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    INT_PTR RunModalDialog(CDialog& dialog, int templateId, HWND owner) override;
    void EndDialog(HWND dialog, INT_PTR result) override;
    HWND GetDlgItem(HWND dialog, int id) override;
    LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    // Within the dialog procedure's call for this window and message: marks it not handled
    // and returns 0. Anywhere else: the system's DefWindowProc.
    LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL EnableWindow(HWND window, BOOL enable) override;
    BOOL IsWindowEnabled(HWND window) override;
    void SetWindowText(HWND window, const char* text) override;
    int GetWindowText(HWND window, char* buffer, int size) override;
    int GetWindowTextLength(HWND window) override;
    BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                      UINT flags) override;
    UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs) override;
    BOOL IsIconic(HWND window) override;
    BOOL GetClientRect(HWND window, RECT* rect) override;
    int GetSystemMetrics(int index) override;
    // BeginPaint and EndPaint pair up per device context, on the user-interface thread.
    HDC BeginPaint(HWND window) override;
    void EndPaint(HWND window, HDC dc) override;
    BOOL DrawIcon(HDC dc, int x, int y, HICON icon) override;
    // An icon resource of the executable.
    HICON LoadIcon(int resourceId) override;
    int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;

private:
    struct Paint;
    std::mutex m_paintMutex;
    std::map<HDC, std::unique_ptr<Paint>> m_paints;
};

} // namespace fw::win32

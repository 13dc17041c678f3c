// The two services every backend provides: a window system and a kernel (time, events,
// threads). The program's own code never sees these interfaces; it calls the class layer
// (afxwin.h), which forwards here. A backend is installed once at start-up (tests install
// a fresh one per case).
#pragma once

#include <cstdint>
#include <functional>

#include "framework/fwtypes.h"

namespace fw {

class CDialog;

class WindowSystem {
public:
    virtual ~WindowSystem() = default;

    // Creates the dialog from its template with the given owner (none: the application's
    // main window, which is disabled while the dialog runs), attaches it to the object,
    // sends WM_INITDIALOG and runs its modal loop until EndDialog. Returns the result passed
    // to EndDialog, or -1 when the dialog could not be created.
    virtual INT_PTR RunModalDialog(CDialog& dialog, int templateId, HWND owner) = 0;
    virtual void EndDialog(HWND dialog, INT_PTR result) = 0;

    virtual HWND GetDlgItem(HWND dialog, int id) = 0;
    virtual LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Queues a message for the window's thread; false when the window does not exist.
    virtual BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // The window's default handling of a message its object did not handle.
    virtual LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

    // Win32 semantics: returns nonzero when the window was disabled before the call.
    virtual BOOL EnableWindow(HWND window, BOOL enable) = 0;
    virtual BOOL IsWindowEnabled(HWND window) = 0;
    virtual void SetWindowText(HWND window, const char* text) = 0;
    virtual int GetWindowText(HWND window, char* buffer, int size) = 0;
    virtual int GetWindowTextLength(HWND window) = 0;
    // insertAfter: nullptr, or TopMost() for the topmost band.
    virtual BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                              UINT flags) = 0;
    virtual UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs) = 0;
    virtual BOOL IsIconic(HWND window) = 0;
    virtual BOOL GetClientRect(HWND window, RECT* rect) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual HDC BeginPaint(HWND window) = 0;
    virtual void EndPaint(HWND window, HDC dc) = 0;
    virtual BOOL DrawIcon(HDC dc, int x, int y, HICON icon) = 0;
    virtual HICON LoadIcon(int resourceId) = 0;

    // Returns once the kernel event idle is signalled: no worker thread is left. A window
    // system that shows worker message boxes on the user-interface thread keeps showing
    // them meanwhile; by default the calling thread just waits.
    virtual void WaitForWorkers(HANDLE idle);

    // A message box owned by owner (or by nobody), with caption and MB_ flags; returns the
    // button pressed (IDOK, IDYES, IDNO, ...). May be called from any thread.
    virtual int MessageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;

    // The handle SetWindowPos takes for the topmost band.
    static HWND TopMost() { return reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1)); }
};

class Kernel {
public:
    virtual ~Kernel() = default;

    virtual void Sleep(DWORD milliseconds) = 0;
    // A manual-reset (or auto-reset) event; nullptr when none can be made. Events live
    // until the kernel is destroyed.
    virtual HANDLE CreateEvent(BOOL manualReset, BOOL initialState) = 0;
    virtual BOOL SetEvent(HANDLE event) = 0;
    virtual BOOL ResetEvent(HANDLE event) = 0;
    // WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for a handle that is not an event.
    virtual DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) = 0;
    // Runs body on a new thread at the given THREAD_PRIORITY_ value; false when no thread
    // could be started (body is then not run).
    virtual bool StartThread(std::function<void()> body, int priority) = 0;
    // Milliseconds since an arbitrary start.
    virtual std::uint64_t TickCount() = 0;
};

// Installs the services the class layer forwards to; both must outlive their use.
void InstallPlatform(WindowSystem* windows, Kernel* kernel);
WindowSystem& Windows();
Kernel& System();

} // namespace fw

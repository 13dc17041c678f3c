// The class layer the program is written against: a thin stand-in for the parts of the
// Windows class framework and of the Win32 API the program uses. Every class is a small
// wrapper that forwards to the installed WindowSystem and Kernel (Platform.h), so the same
// program code runs on the real Win32 backend, the terminal backend and the headless
// backend of the tests.
//
// Windows, controls and threads are non-copyable: each object stands for one handle.
#pragma once

#include <cstdint>
#include <memory>

#include "framework/CString.h"
#include "framework/Platform.h"
#include "framework/fwtypes.h"

namespace fw {

class CCmdTarget;
class CDataExchange;

// ---------------------------------------------------------------------------------------
// Message maps: a static table per class, chained to its base class's table. The first
// entry that matches a message, searching from the most derived class, handles it.

using MessageThunk = LRESULT (*)(CCmdTarget* target, WPARAM wParam, LPARAM lParam);

struct MessageMapEntry {
    UINT message; // WM_ number; 0 ends the table
    UINT code;    // notification code for WM_COMMAND
    int id;       // control or command identifier for WM_COMMAND
    MessageThunk thunk;
};

struct MessageMap {
    const MessageMap* (*base)();
    const MessageMapEntry* entries;
};

// The message-map macros expand to table rows ("{...},"), which the formatter takes for
// statements and splits; they keep the layout they are written in.
// clang-format off
#define DECLARE_MESSAGE_MAP()                                                                  \
public:                                                                                        \
    static const ::fw::MessageMap* GetThisMessageMap();                                        \
    const ::fw::MessageMap* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                 \
    const ::fw::MessageMap* theClass::GetMessageMap() const { return GetThisMessageMap(); }    \
    const ::fw::MessageMap* theClass::GetThisMessageMap() {                                    \
        using ThisClass [[maybe_unused]] = theClass;                                           \
        using TheBaseClass = baseClass;                                                        \
        static constexpr ::fw::MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                                      \
    {0, 0, 0, nullptr}                                                                         \
    }                                                                                          \
    ;                                                                                          \
    static constexpr ::fw::MessageMap map{&TheBaseClass::GetThisMessageMap, entries};          \
    return &map;                                                                               \
    }

#define FW_THUNK(body)                                                                         \
    [](::fw::CCmdTarget* target, ::fw::WPARAM wParam, ::fw::LPARAM lParam) -> ::fw::LRESULT {  \
        auto* self = static_cast<ThisClass*>(target);                                          \
        (void)wParam;                                                                          \
        (void)lParam;                                                                          \
        body;                                                                                  \
    }

#define ON_COMMAND(id, memberFxn)                                                              \
    {WM_COMMAND, BN_CLICKED, (id), FW_THUNK(self->memberFxn(); return 0)},
#define ON_BN_CLICKED(id, memberFxn)                                                           \
    {WM_COMMAND, BN_CLICKED, (id), FW_THUNK(self->memberFxn(); return 0)},
#define ON_LBN_SELCHANGE(id, memberFxn)                                                        \
    {WM_COMMAND, LBN_SELCHANGE, (id), FW_THUNK(self->memberFxn(); return 0)},
#define ON_WM_PAINT() {WM_PAINT, 0, 0, FW_THUNK(self->OnPaint(); return 0)},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, FW_THUNK(self->OnClose(); return 0)},
#define ON_WM_CANCELMODE() {WM_CANCELMODE, 0, 0, FW_THUNK(self->OnCancelMode(); return 0)},
#define ON_WM_TIMER()                                                                          \
    {WM_TIMER, 0, 0, FW_THUNK(self->OnTimer(static_cast<::fw::UINT_PTR>(wParam)); return 0)},
#define ON_WM_QUERYDRAGICON()                                                                  \
    {WM_QUERYDRAGICON, 0, 0,                                                                   \
     FW_THUNK(return reinterpret_cast<::fw::LRESULT>(self->OnQueryDragIcon()))},
// clang-format on

class CCmdTarget {
public:
    CCmdTarget() = default;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;
    virtual ~CCmdTarget() = default;

    static const MessageMap* GetThisMessageMap();
    virtual const MessageMap* GetMessageMap() const;

    // Runs the handler the message maps bind to this message; false when none does.
    bool Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

// ---------------------------------------------------------------------------------------
// Windows

class CWnd : public CCmdTarget {
public:
    CWnd() = default;
    explicit CWnd(HWND window) : m_hWnd(window) {}
    ~CWnd() override = default;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // Called by backends: dispatches through the message map, or to the default handling.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Attaches or detaches the handle (backends, and data exchange for controls).
    void Attach(HWND window) { m_hWnd = window; }
    HWND Detach();

    BOOL EnableWindow(BOOL enable = TRUE) { return Windows().EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return Windows().IsWindowEnabled(m_hWnd); }
    void SetWindowText(const char* text) { Windows().SetWindowText(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return Windows().SendMessage(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return Windows().PostMessage(m_hWnd, message, wParam, lParam);
    }
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags) {
        return Windows().SetWindowPos(
            m_hWnd, insertAfter != nullptr ? insertAfter->m_hWnd : nullptr, x, y, cx, cy, flags);
    }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, void* callback) {
        (void)callback; // timers always arrive as WM_TIMER
        return Windows().SetTimer(m_hWnd, id, elapseMs);
    }
    BOOL IsIconic() const { return Windows().IsIconic(m_hWnd); }
    void GetClientRect(RECT* rect) const { Windows().GetClientRect(m_hWnd, rect); }
    HICON SetIcon(HICON icon, BOOL bigIcon) {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                                   reinterpret_cast<LPARAM>(icon)));
    }
    // The window's own message box; a missing caption means the application's name.
    int MessageBox(const char* text, const char* caption = nullptr, UINT type = MB_OK);

    static const CWnd wndTopMost;

protected:
    // The default handling of the message being dispatched.
    LRESULT Default();
    HWND m_hWnd = nullptr;

private:
    UINT m_currentMessage = 0;
    WPARAM m_currentWParam = 0;
    LPARAM m_currentLParam = 0;
};

class CPaintDC {
public:
    explicit CPaintDC(CWnd* window)
        : m_window(window->GetSafeHwnd()), m_hDC(Windows().BeginPaint(m_window)) {}
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;
    ~CPaintDC() { Windows().EndPaint(m_window, m_hDC); }
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return Windows().DrawIcon(m_hDC, x, y, icon); }

private:
    HWND m_window;
    HDC m_hDC;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override = default;

    virtual INT_PTR DoModal();
    virtual BOOL OnInitDialog();
    void EndDialog(int result) { Windows().EndDialog(m_hWnd, result); }
    // FALSE: members to controls; TRUE: controls to members.
    BOOL UpdateData(BOOL saveAndValidate = TRUE);
    UINT TemplateId() const { return m_templateId; }

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    void OnPaint() { Default(); }
    void OnTimer(UINT_PTR) { Default(); }
    void OnCancelMode() { Default(); }
    void OnClose() { Default(); }

    DECLARE_MESSAGE_MAP()

private:
    BOOL HandleInitDialog() { return OnInitDialog(); }
    UINT m_templateId;
    CWnd* m_pParentWnd;
};

class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate)
        : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
    BOOL m_bSaveAndValidate;
    CDialog* m_pDlgWnd;
};

// Binds a control member to the dialog's control with this id (once).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);
// Moves text between a member and the control with this id.
void DDX_Text(CDataExchange* pDX, int id, CString& value);

// ---------------------------------------------------------------------------------------
// Controls: one-line forwarders to the control's messages.

class CButton : public CWnd {};
class CEdit : public CWnd {};

class CListBox : public CWnd {
public:
    void ResetContent() { SendMessage(LB_RESETCONTENT); }
    int InsertString(int index, const char* text) {
        return static_cast<int>(SendMessage(LB_INSERTSTRING, static_cast<WPARAM>(index),
                                            reinterpret_cast<LPARAM>(text)));
    }
    int SetCurSel(int index) {
        return static_cast<int>(SendMessage(LB_SETCURSEL, static_cast<WPARAM>(index)));
    }
    int GetCurSel() const;
    int GetCount() const;
    void GetText(int index, CString& text) const;
};

class CProgressCtrl : public CWnd {
public:
    int SetPos(int position) {
        return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position), 0));
    }
};

class CAnimateCtrl : public CWnd {
public:
    // The clip is a file name: no module handle is passed.
    BOOL Open(const char* fileName) {
        return static_cast<BOOL>(SendMessage(ACM_OPENA, 0, reinterpret_cast<LPARAM>(fileName)));
    }
};

// ---------------------------------------------------------------------------------------
// Application and threads

class CWinThread : public CCmdTarget {
public:
    CWinThread() = default;
    ~CWinThread() override = default;
    virtual BOOL InitInstance() { return FALSE; }
    // Runs after InitInstance, once every worker thread has ended; its result is the
    // process's exit code.
    virtual int ExitInstance() { return 0; }
    CWnd* m_pMainWnd = nullptr;
};

class CWinApp : public CWinThread {
public:
    explicit CWinApp(const char* appName = nullptr);
    ~CWinApp() override;

    // The icon resource through the window system's loader.
    HICON LoadIcon(UINT resourceId) const {
        return Windows().LoadIcon(static_cast<int>(resourceId));
    }
    // The application's name: given to the constructor, else the executable's file name
    // without directory and extension.
    const char* m_pszAppName = nullptr;
    // Names the application after the module's path unless it was given a name.
    void SetModulePath(const char* path);

    void OnHelp() {}

    DECLARE_MESSAGE_MAP()

private:
    std::string m_moduleName;
    bool m_named = false;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// The thread object of the calling thread: the application on the user-interface thread.
CWinThread* AfxGetThread();

using AFX_THREADPROC = UINT (*)(void* parameter);
// Starts a worker thread running proc(parameter) at the priority; nullptr when it could not
// be started. The returned object belongs to the thread and goes away when it ends: the
// caller may only test it for nullptr.
CWinThread* AfxBeginThread(AFX_THREADPROC proc, void* parameter,
                           int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                           DWORD createFlags = 0, void* security = nullptr);

// Whether a thread started with AfxBeginThread is still running (until its procedure has
// returned, last message box included).
bool AfxWorkerThreadsRunning();

// The application's message box: its name as caption, owned by the main window on the
// user-interface thread; an exclamation icon is added when type names none.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);

// Runs the application: names it after modulePath, then InitInstance; then waits for every
// worker thread (their message boxes still shown), so that none outlives the platform it
// runs on. Returns ExitInstance's exit code.
int AfxWinMain(const char* modulePath);

// ---------------------------------------------------------------------------------------
// Kernel and user-interface calls the program makes directly.

inline void Sleep(DWORD milliseconds) { System().Sleep(milliseconds); }
HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, const char* name);
inline BOOL SetEvent(HANDLE event) { return System().SetEvent(event); }
inline BOOL ResetEvent(HANDLE event) { return System().ResetEvent(event); }
inline DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) {
    return System().WaitForSingleObject(event, milliseconds);
}
inline int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type) {
    return Windows().MessageBox(owner, text, caption, type);
}
inline int GetSystemMetrics(int index) { return Windows().GetSystemMetrics(index); }

// Registry, read only. On Windows the system registry; elsewhere a Windows .reg file
// (Registry.h says which).
LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result);
LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size);
LONG RegCloseKey(HKEY key);

// ---------------------------------------------------------------------------------------
// Files

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        shareDenyWrite = 0x0020,
    };
    CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    ~CFile();

    // Opens an existing file; with shareDenyWrite no other program may write to it meanwhile
    // (readers may: one image can go to several drives at once).
    BOOL Open(const char* fileName, UINT flags);
    // Length in bytes. A file of 4 GiB or more reads as 0xFFFFFFFF: cut to 32 bits it could
    // pass for a small file and be sent as a whole image.
    DWORD GetLength() const;
    // Reads up to count bytes; returns the count read (0 at the end), or (UINT)-1 when the
    // read failed.
    UINT Read(void* buffer, UINT count);
    // TRUE when another program may have written to the file since it was opened with
    // shareDenyWrite: what was read before then and what is read after may come from two
    // different contents. On Windows the open keeps every writer out; on POSIX systems, where
    // locks are only advisory, writes are watched for from the open on.
    BOOL HasChanged() const;
    void Close();

    static constexpr UINT kReadFailed = static_cast<UINT>(-1);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// The path to open for one of the program's data files (the animation), given its bare name.
// The working folder comes first, where the operator may put a file of his own: there, and
// always on Windows, the name is returned unchanged. On Linux a name missing there is taken
// from the folder the package installs data files in (FWUPGRADE_DATADIR, given by the build);
// whether that copy exists is left to the opener.
CString DataFilePath(const char* name);

} // namespace fw

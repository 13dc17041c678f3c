#include "framework/fw.h"

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace fw {
namespace {

WindowSystem* g_windows = nullptr;
Kernel* g_kernel = nullptr;
CWinApp* g_app = nullptr;
// The thread object of each worker thread; null on the user-interface thread.
thread_local CWinThread* t_thread = nullptr;

// The worker threads of one installed platform. Each thread holds on to the count it was
// started under, so a thread that outlives its platform cannot disturb the next one's.
struct WorkerCount {
    Kernel* kernel = nullptr;
    HANDLE idle = nullptr; // manual-reset; signalled while no worker runs
    std::mutex mutex;
    int live = 0;

    void Started() {
        std::lock_guard lock(mutex);
        if (live++ == 0 && idle != nullptr) {
            kernel->ResetEvent(idle);
        }
    }
    void Ended() {
        std::lock_guard lock(mutex);
        if (--live == 0 && idle != nullptr) {
            kernel->SetEvent(idle);
        }
    }
    bool Running() {
        std::lock_guard lock(mutex);
        return live > 0;
    }
};
std::shared_ptr<WorkerCount> g_workers = std::make_shared<WorkerCount>();

UINT LowWord(WPARAM value) { return static_cast<UINT>(value & 0xFFFF); }
UINT HighWord(WPARAM value) { return static_cast<UINT>((value >> 16) & 0xFFFF); }

} // namespace

void InstallPlatform(WindowSystem* windows, Kernel* kernel) {
    g_windows = windows;
    g_kernel = kernel;
    g_workers = std::make_shared<WorkerCount>();
    if (kernel != nullptr) {
        g_workers->kernel = kernel;
        g_workers->idle = kernel->CreateEvent(TRUE, TRUE);
    }
}

void WindowSystem::WaitForWorkers(HANDLE idle) { System().WaitForSingleObject(idle, INFINITE); }

WindowSystem& Windows() { return *g_windows; }
Kernel& System() { return *g_kernel; }

// ---------------------------------------------------------------------------------------

const MessageMap* CCmdTarget::GetThisMessageMap() {
    static constexpr MessageMapEntry entries[] = {{0, 0, 0, nullptr}};
    static constexpr MessageMap map{nullptr, entries};
    return &map;
}

const MessageMap* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

bool CCmdTarget::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    const UINT code = message == WM_COMMAND ? HighWord(wParam) : 0;
    // Control identifiers are 16-bit; -1 (static controls) never sends commands.
    const int id = message == WM_COMMAND ? static_cast<int>(LowWord(wParam)) : 0;
    for (const MessageMap* map = GetMessageMap(); map != nullptr;
         map = map->base != nullptr ? map->base() : nullptr) {
        for (const MessageMapEntry* entry = map->entries; entry->message != 0; ++entry) {
            if (entry->message == message && entry->code == code && entry->id == id) {
                result = entry->thunk(this, wParam, lParam);
                return true;
            }
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------

const CWnd CWnd::wndTopMost{WindowSystem::TopMost()};

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const UINT outerMessage = m_currentMessage;
    const WPARAM outerWParam = m_currentWParam;
    const LPARAM outerLParam = m_currentLParam;
    m_currentMessage = message;
    m_currentWParam = wParam;
    m_currentLParam = lParam;
    LRESULT result = 0;
    if (!Dispatch(message, wParam, lParam, result)) {
        result = Default();
    }
    m_currentMessage = outerMessage;
    m_currentWParam = outerWParam;
    m_currentLParam = outerLParam;
    return result;
}

LRESULT CWnd::Default() {
    return Windows().DefWindowProc(m_hWnd, m_currentMessage, m_currentWParam, m_currentLParam);
}

HWND CWnd::Detach() {
    HWND window = m_hWnd;
    m_hWnd = nullptr;
    return window;
}

void CWnd::GetWindowText(CString& text) const {
    const int length = Windows().GetWindowTextLength(m_hWnd);
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    Windows().GetWindowText(m_hWnd, buffer.data(), static_cast<int>(buffer.size()));
    text = CString(buffer.data());
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    if (caption == nullptr) {
        caption = AfxGetApp() != nullptr ? AfxGetApp()->m_pszAppName : "";
    }
    return Windows().MessageBox(m_hWnd, text, caption, type);
}

// ---------------------------------------------------------------------------------------

CDialog::CDialog(UINT templateId, CWnd* parent) : m_templateId(templateId), m_pParentWnd(parent) {}

// A row written out in full, which the formatter cannot tell from a statement.
// clang-format off
BEGIN_MESSAGE_MAP(CDialog, CWnd)
    {WM_INITDIALOG, 0, 0, FW_THUNK(return self->HandleInitDialog())},
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()
// clang-format on

INT_PTR CDialog::DoModal() {
    const INT_PTR result =
        Windows().RunModalDialog(*this, static_cast<int>(m_templateId),
                                 m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr);
    m_hWnd = nullptr;
    return result;
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
    CDataExchange exchange(this, saveAndValidate);
    DoDataExchange(&exchange);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void DDX_Control(CDataExchange* pDX, int id, CWnd& control) {
    // A dialog object run modally again gets new controls: a handle left from the last
    // run names a window that no longer exists.
    HWND item = Windows().GetDlgItem(pDX->m_pDlgWnd->GetSafeHwnd(), id);
    if (control.GetSafeHwnd() != item) {
        control.Attach(item);
    }
}

void DDX_Text(CDataExchange* pDX, int id, CString& value) {
    HWND item = Windows().GetDlgItem(pDX->m_pDlgWnd->GetSafeHwnd(), id);
    if (pDX->m_bSaveAndValidate) {
        const int length = Windows().GetWindowTextLength(item);
        std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
        Windows().GetWindowText(item, buffer.data(), static_cast<int>(buffer.size()));
        value = CString(buffer.data());
    } else {
        Windows().SetWindowText(item, value);
    }
}

// ---------------------------------------------------------------------------------------

int CListBox::GetCurSel() const {
    return static_cast<int>(Windows().SendMessage(m_hWnd, LB_GETCURSEL, 0, 0));
}

int CListBox::GetCount() const {
    return static_cast<int>(Windows().SendMessage(m_hWnd, LB_GETCOUNT, 0, 0));
}

void CListBox::GetText(int index, CString& text) const {
    const auto length = Windows().SendMessage(m_hWnd, LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == LB_ERR) {
        text.Empty();
        return;
    }
    std::vector<char> buffer(static_cast<std::size_t>(length) + 1, '\0');
    Windows().SendMessage(m_hWnd, LB_GETTEXT, static_cast<WPARAM>(index),
                          reinterpret_cast<LPARAM>(buffer.data()));
    text = CString(buffer.data());
}

// ---------------------------------------------------------------------------------------

#define ID_HELP 0xE146
BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
    ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

CWinApp::CWinApp(const char* appName) {
    if (appName != nullptr) {
        m_moduleName = appName;
        m_named = true;
    }
    m_pszAppName = m_moduleName.c_str();
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) {
        g_app = nullptr;
    }
}

void CWinApp::SetModulePath(const char* path) {
    if (m_named || path == nullptr) {
        return;
    }
    std::string name = path;
    const auto slash = name.find_last_of("/\\");
    if (slash != std::string::npos) {
        name.erase(0, slash + 1);
    }
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot != 0) {
        name.erase(dot);
    }
    m_moduleName = name;
    m_pszAppName = m_moduleName.c_str();
}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() {
    CWinThread* thread = AfxGetThread();
    return thread != nullptr ? thread->m_pMainWnd : nullptr;
}

CWinThread* AfxGetThread() { return t_thread != nullptr ? t_thread : g_app; }

CWinThread* AfxBeginThread(AFX_THREADPROC proc, void* parameter, int priority, UINT stackSize,
                           DWORD createFlags, void* security) {
    (void)stackSize;
    (void)createFlags;
    (void)security;
    auto thread = std::make_shared<CWinThread>();
    // A worker reports through the application's main window, as its creator does.
    thread->m_pMainWnd = AfxGetMainWnd();
    CWinThread* handle = thread.get();
    std::shared_ptr<WorkerCount> workers = g_workers;
    workers->Started();
    const bool started = System().StartThread(
        [thread, proc, parameter, workers] {
            t_thread = thread.get();
            proc(parameter);
            t_thread = nullptr;
            workers->Ended();
        },
        priority);
    if (!started) {
        workers->Ended();
    }
    return started ? handle : nullptr;
}

bool AfxWorkerThreadsRunning() { return g_workers->Running(); }

int AfxMessageBox(const char* text, UINT type, UINT helpId) {
    (void)helpId;
    if ((type & MB_ICONMASK) == 0) {
        type |= MB_ICONEXCLAMATION;
    }
    CWinApp* app = AfxGetApp();
    CWnd* main = AfxGetMainWnd();
    const bool onUserInterfaceThread = AfxGetThread() == app;
    HWND owner = onUserInterfaceThread && main != nullptr ? main->GetSafeHwnd() : nullptr;
    return Windows().MessageBox(owner, text, app != nullptr ? app->m_pszAppName : "", type);
}

int AfxWinMain(const char* modulePath) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return 1;
    }
    app->SetModulePath(modulePath);
    // A dialog-based program does all its work inside InitInstance and answers FALSE, so
    // there is no message pump to enter afterwards.
    app->InitInstance();
    // The main window may be gone while a worker still shows its outcome or resets its
    // event: the platform must stay until it has finished.
    const std::shared_ptr<WorkerCount> workers = g_workers;
    if (workers->idle != nullptr && workers->Running()) {
        Windows().WaitForWorkers(workers->idle);
    }
    return app->ExitInstance();
}

HANDLE CreateEventA(void* security, BOOL manualReset, BOOL initialState, const char* name) {
    (void)security;
    (void)name;
    return System().CreateEvent(manualReset, initialState);
}

} // namespace fw

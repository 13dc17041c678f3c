#include "framework/model/ModelWindows.h"

#include <algorithm>
#include <cstring>

namespace fw::model {
namespace {

constexpr int kIconSize = 32;

WPARAM MakeCommand(int id, UINT code) {
    return (static_cast<WPARAM>(code) << 16) | (static_cast<WPARAM>(id) & 0xFFFF);
}

} // namespace

int Window::Id() const {
    if (dialog != nullptr) {
        return dialog->id;
    }
    return control != nullptr ? control->id : 0;
}

Window* Window::Child(int id) const {
    for (const auto& child : children) {
        if (child->Id() == id) {
            return child.get();
        }
    }
    return nullptr;
}

ModelWindowSystem::ModelWindowSystem(Kernel& kernel)
    : m_kernel(kernel), m_activity(kernel.CreateEvent(TRUE, FALSE)) {}

ModelWindowSystem::~ModelWindowSystem() = default;

Operation ModelWindowSystem::For(const Window& window, const char* what) const {
    Operation operation;
    operation.what = what;
    if (window.IsDialog()) {
        operation.dialogId = window.Id();
    } else {
        operation.dialogId = window.parent != nullptr ? window.parent->Id() : 0;
        operation.controlId = window.Id();
    }
    return operation;
}

void ModelWindowSystem::Record(Operation operation) {
    operation.time = m_kernel.TickCount();
    OnOperation(operation);
}

Window* ModelWindowSystem::Find(HWND window) const {
    const auto found = m_windows.find(window);
    return found != m_windows.end() ? found->second : nullptr;
}

std::unique_ptr<Window> ModelWindowSystem::Create(const DialogTemplate& dialog) {
    auto window = std::make_unique<Window>();
    window->dialog = &dialog;
    window->text = dialog.caption;
    window->handle = reinterpret_cast<HWND>(m_nextHandle++);
    // Client area in dialog units scaled as "MS Sans Serif" 8 does: 1.5 x, 1.625 y.
    window->client = RECT{0, 0, dialog.cx * 3 / 2, dialog.cy * 13 / 8};
    std::lock_guard lock(m_queueMutex);
    m_windows[window->handle] = window.get();
    for (const auto& control : dialog.controls) {
        auto child = std::make_unique<Window>();
        child->parent = window.get();
        child->control = &control;
        child->text = control.text;
        child->handle = reinterpret_cast<HWND>(m_nextHandle++);
        m_windows[child->handle] = child.get();
        window->children.push_back(std::move(child));
    }
    return window;
}

void ModelWindowSystem::Forget(Window& window) {
    std::lock_guard lock(m_queueMutex);
    for (const auto& child : window.children) {
        m_windows.erase(child->handle);
    }
    m_windows.erase(window.handle);
}

INT_PTR ModelWindowSystem::RunModalDialog(CDialog& object, int templateId, HWND owner) {
    const DialogTemplate* dialogTemplate = FindDialogTemplate(templateId);
    if (dialogTemplate == nullptr) {
        return -1;
    }
    if (owner == nullptr) {
        CWnd* main = AfxGetMainWnd();
        if (main != nullptr && main != &object) {
            owner = main->GetSafeHwnd();
        }
    }
    std::unique_ptr<Window> dialog = Create(*dialogTemplate);
    dialog->object = &object;
    dialog->owner = owner;
    Window* ownerWindow = Find(owner);
    const bool disabledOwner = ownerWindow != nullptr && ownerWindow->enabled;
    if (disabledOwner) {
        EnableWindow(owner, FALSE);
    }
    object.Attach(dialog->handle);
    m_modal.push_back(dialog.get());
    Record(For(*dialog, "CreateDialog"));

    // TRUE from WM_INITDIALOG asks for the default focus, chosen once the dialog has set
    // up (and perhaps disabled) its controls.
    if (object.WindowProc(WM_INITDIALOG, 0, 0) != FALSE && !dialog->ended) {
        InitialFocus(*dialog);
    }
    while (!dialog->ended) {
        if (DispatchOne(*dialog) || FireDueTimer() || OnIdle(*dialog)) {
            continue;
        }
        WaitForActivity(NextTimer());
    }

    m_modal.pop_back();
    // Ending the dialog enables its owner, even one that was disabled before it started.
    if (ownerWindow != nullptr && Find(owner) != nullptr) {
        EnableWindow(owner, TRUE);
    }
    Operation ended = For(*dialog, "EndDialog");
    ended.value = dialog->result;
    Record(ended);
    object.Detach();
    Forget(*dialog);
    return dialog->result;
}

void ModelWindowSystem::EndDialog(HWND handle, INT_PTR result) {
    Window* dialog = Find(handle);
    if (dialog == nullptr || !dialog->IsDialog()) {
        return;
    }
    dialog->ended = true;
    dialog->result = result;
    Wake();
}

bool ModelWindowSystem::DispatchOne(Window& dialog) {
    Posted posted{};
    {
        std::lock_guard lock(m_queueMutex);
        if (m_queue.empty()) {
            m_kernel.ResetEvent(m_activity);
            return false;
        }
        posted = std::move(m_queue.front());
        m_queue.pop_front();
    }
    if (posted.work) {
        posted.work();
    } else if (Window* target = Find(posted.window); target != nullptr) {
        // Messages for windows that have gone are dropped, as the system drops them.
        if (!DeliverPostedKey(dialog, *target, posted.message, posted.wParam)) {
            SendMessage(posted.window, posted.message, posted.wParam, posted.lParam);
        }
    }
    return true;
}

std::optional<std::uint64_t> ModelWindowSystem::NextTimer() const {
    std::optional<std::uint64_t> next;
    for (const auto& [handle, window] : m_windows) {
        for (const auto& timer : window->timers) {
            if (!next || timer.due < *next) {
                next = timer.due;
            }
        }
    }
    return next;
}

bool ModelWindowSystem::FireDueTimer() {
    const std::uint64_t now = m_kernel.TickCount();
    for (const auto& [handle, window] : m_windows) {
        for (auto& timer : window->timers) {
            if (timer.due <= now) {
                // Like the system's timers: a tick that comes late is not made up for, so a
                // handler that blocks for a period still sees one tick a period, and one
                // that blocks for many periods sees a single tick, not a burst.
                timer.due += timer.period;
                if (timer.due <= now) {
                    timer.due = now + timer.period;
                }
                const UINT_PTR id = timer.id;
                SendMessage(handle, WM_TIMER, id, 0);
                return true;
            }
        }
    }
    return false;
}

void ModelWindowSystem::WaitForActivity(std::optional<std::uint64_t> deadline) {
    DWORD timeout = INFINITE;
    if (deadline) {
        const std::uint64_t now = m_kernel.TickCount();
        timeout = *deadline > now ? static_cast<DWORD>(*deadline - now) : 0;
    }
    m_kernel.WaitForSingleObject(m_activity, timeout);
}

void ModelWindowSystem::Wake() { m_kernel.SetEvent(m_activity); }

void ModelWindowSystem::RunOnUserInterfaceThread(std::function<void()> work) {
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(Posted{nullptr, 0, 0, 0, std::move(work)});
    }
    Wake();
}

HWND ModelWindowSystem::GetDlgItem(HWND handle, int id) {
    Window* dialog = Find(handle);
    Window* child = dialog != nullptr ? dialog->Child(id) : nullptr;
    return child != nullptr ? child->handle : nullptr;
}

LRESULT ModelWindowSystem::SendMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return 0;
    }
    if (window->IsDialog()) {
        if (message == WM_SETICON) {
            HICON& slot = wParam == ICON_BIG ? window->bigIcon : window->smallIcon;
            HICON previous = slot;
            slot = reinterpret_cast<HICON>(lParam);
            Operation operation = For(*window, "WM_SETICON");
            operation.value = static_cast<std::int64_t>(wParam);
            operation.extra = lParam;
            Record(operation);
            return reinterpret_cast<LRESULT>(previous);
        }
        return window->object != nullptr ? window->object->WindowProc(message, wParam, lParam)
                                         : DefWindowProc(handle, message, wParam, lParam);
    }
    return ControlMessage(*window, message, wParam, lParam);
}

BOOL ModelWindowSystem::PostMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(m_queueMutex);
        if (m_windows.find(handle) == m_windows.end()) {
            return FALSE;
        }
        m_queue.push_back(Posted{handle, message, wParam, lParam, nullptr});
    }
    Wake();
    return TRUE;
}

LRESULT ModelWindowSystem::DefWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return 0;
    }
    switch (message) {
    case DM_GETDEFID:
    case DM_SETDEFID:
    case WM_NEXTDLGCTL:
        return window->IsDialog() ? DefDialogMessage(*window, message, wParam, lParam) : 0;
    case WM_CLOSE:
        // The dialog manager turns a close request into the cancel command.
        if (window->IsDialog()) {
            Window* cancel = window->Child(IDCANCEL);
            if (cancel == nullptr || cancel->enabled) {
                SendCommand(*window, IDCANCEL, BN_CLICKED);
            }
        }
        return 0;
    case WM_SYSCOMMAND:
        // Alt+F4 and the system menu's Close arrive as a close request.
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            SendMessage(handle, WM_CLOSE, 0, 0);
        }
        return 0;
    case WM_ICONERASEBKGND: {
        Operation operation = For(*window, "WM_ICONERASEBKGND");
        operation.value = static_cast<std::int64_t>(wParam);
        operation.extra = lParam;
        Record(operation);
        return TRUE;
    }
    default:
        // Nothing else has a default the program relies on (a drag icon, for one, is 0).
        return 0;
    }
}

bool ModelWindowSystem::SendCommand(Window& dialog, int id, UINT code) {
    Window* control = dialog.Child(id);
    SendMessage(dialog.handle, WM_COMMAND, MakeCommand(id, code),
                reinterpret_cast<LPARAM>(control != nullptr ? control->handle : nullptr));
    return true;
}

BOOL ModelWindowSystem::EnableWindow(HWND handle, BOOL enable) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return FALSE;
    }
    const bool wasDisabled = !window->enabled;
    window->enabled = enable != FALSE;
    Operation operation = For(*window, "EnableWindow");
    operation.value = enable != FALSE ? 1 : 0;
    Record(operation);
    // A disabled control cannot keep the focus: its dialog is left with none.
    if (!window->enabled && window->parent != nullptr && window->parent->focus == handle) {
        FocusOn(*window->parent, nullptr);
    }
    return wasDisabled ? TRUE : FALSE;
}

BOOL ModelWindowSystem::IsWindowEnabled(HWND handle) {
    Window* window = Find(handle);
    return window != nullptr && window->enabled ? TRUE : FALSE;
}

void ModelWindowSystem::SetWindowText(HWND handle, const char* text) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return;
    }
    window->text = text != nullptr ? text : "";
    if (window->control != nullptr && window->control->kind == ControlKind::Edit) {
        // As the edit control: new text is shown from its first line.
        window->top = 0;
    }
    Operation operation = For(*window, "SetWindowText");
    operation.text = window->text;
    Record(operation);
}

int ModelWindowSystem::GetWindowText(HWND handle, char* buffer, int size) {
    Window* window = Find(handle);
    if (window == nullptr || size <= 0) {
        return 0;
    }
    const auto count = std::min(window->text.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, window->text.data(), count);
    buffer[count] = '\0';
    return static_cast<int>(count);
}

int ModelWindowSystem::GetWindowTextLength(HWND handle) {
    Window* window = Find(handle);
    return window != nullptr ? static_cast<int>(window->text.size()) : 0;
}

BOOL ModelWindowSystem::SetWindowPos(HWND handle, HWND insertAfter, int x, int y, int cx, int cy,
                                     UINT flags) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return FALSE;
    }
    (void)cx;
    (void)cy; // the model keeps no window sizes; SWP_NOSIZE is recorded below
    if ((flags & SWP_NOMOVE) == 0) {
        window->x = x;
        window->y = y;
    }
    if (insertAfter == TopMost()) {
        window->topmost = true;
    }
    Operation operation = For(*window, "SetWindowPos");
    operation.text = insertAfter == TopMost() ? "topmost" : "";
    operation.value = (static_cast<std::int64_t>(x) << 32) | static_cast<std::uint32_t>(y);
    operation.extra = flags;
    Record(operation);
    return TRUE;
}

UINT_PTR ModelWindowSystem::SetTimer(HWND handle, UINT_PTR id, UINT elapseMs) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return 0;
    }
    const std::uint64_t due = m_kernel.TickCount() + elapseMs;
    auto existing = std::find_if(window->timers.begin(), window->timers.end(),
                                 [id](const Window::Timer& timer) { return timer.id == id; });
    if (existing != window->timers.end()) {
        *existing = Window::Timer{id, elapseMs, due};
    } else {
        window->timers.push_back(Window::Timer{id, elapseMs, due});
    }
    Operation operation = For(*window, "SetTimer");
    operation.value = static_cast<std::int64_t>(id);
    operation.extra = elapseMs;
    Record(operation);
    Wake();
    return id;
}

BOOL ModelWindowSystem::IsIconic(HWND handle) {
    Window* window = Find(handle);
    return window != nullptr && window->iconic ? TRUE : FALSE;
}

BOOL ModelWindowSystem::GetClientRect(HWND handle, RECT* rect) {
    Window* window = Find(handle);
    if (window == nullptr) {
        return FALSE;
    }
    *rect = window->client;
    return TRUE;
}

int ModelWindowSystem::GetSystemMetrics(int index) {
    return index == SM_CXICON || index == SM_CYICON ? kIconSize : 0;
}

HDC ModelWindowSystem::BeginPaint(HWND handle) { return reinterpret_cast<HDC>(handle); }

void ModelWindowSystem::EndPaint(HWND, HDC) {}

BOOL ModelWindowSystem::DrawIcon(HDC dc, int x, int y, HICON icon) {
    Window* window = Find(reinterpret_cast<HWND>(dc));
    if (window == nullptr) {
        return FALSE;
    }
    Operation operation = For(*window, "DrawIcon");
    operation.value = (static_cast<std::int64_t>(x) << 32) | static_cast<std::uint32_t>(y);
    operation.extra = reinterpret_cast<std::intptr_t>(icon);
    Record(operation);
    return TRUE;
}

HICON ModelWindowSystem::LoadIcon(int resourceId) {
    return reinterpret_cast<HICON>(static_cast<std::intptr_t>(0x10000 + resourceId));
}

} // namespace fw::model

#include "framework/win32/Win32Native.h"

#include "framework/win32/Win32Windows.h"

namespace fw::win32 {
namespace {

// The message the dialog procedure is handing to an object, innermost first: a handler
// may send further messages, each of which gets its own frame.
struct DispatchFrame {
    ::HWND window;
    UINT message;
    bool unhandled;
    DispatchFrame* outer;
};

thread_local DispatchFrame* t_frame = nullptr;

class FrameScope {
public:
    FrameScope(::HWND window, UINT message) : m_frame{window, message, false, t_frame} {
        t_frame = &m_frame;
    }
    FrameScope(const FrameScope&) = delete;
    FrameScope& operator=(const FrameScope&) = delete;
    ~FrameScope() { t_frame = m_frame.outer; }
    bool Unhandled() const { return m_frame.unhandled; }

private:
    DispatchFrame m_frame;
};

CDialog* DialogOf(::HWND window) {
    return reinterpret_cast<CDialog*>(::GetWindowLongPtrA(window, DWLP_USER));
}

// The one dialog procedure. noexcept: an exception must not unwind through the dialog
// manager's frames, so one that escapes a handler ends the program here.
INT_PTR CALLBACK DialogProcedure(::HWND window, ::UINT message, ::WPARAM wParam,
                                 ::LPARAM lParam) noexcept {
    if (message == WM_INITDIALOG) {
        auto* object = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
        object->Attach(Ours(window));
    }
    CDialog* dialog = DialogOf(window);
    if (dialog == nullptr) {
        // WM_SETFONT and the like arrive before WM_INITDIALOG binds the object.
        return FALSE;
    }
    FrameScope frame(window, message);
    const LRESULT result = dialog->WindowProc(message, wParam, lParam);
    if (frame.Unhandled()) {
        return FALSE;
    }
    switch (message) {
    case WM_INITDIALOG:
        // FALSE when the handler set the focus itself.
        return result;
    case WM_QUERYDRAGICON:
        // One of the messages whose result is the procedure's own return value; set as the
        // message result as well for callers that read it from there.
        ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
        return result;
    default:
        ::SetWindowLongPtrA(window, DWLP_MSGRESULT, result);
        return TRUE;
    }
}

} // namespace

struct Win32WindowSystem::Paint {
    ::PAINTSTRUCT paint{};
};

Win32WindowSystem::Win32WindowSystem() {
    ::INITCOMMONCONTROLSEX classes{sizeof(::INITCOMMONCONTROLSEX),
                                   ICC_PROGRESS_CLASS | ICC_ANIMATE_CLASS};
    ::InitCommonControlsEx(&classes);
}

Win32WindowSystem::~Win32WindowSystem() = default;

INT_PTR Win32WindowSystem::RunModalDialog(CDialog& dialog, int templateId, HWND owner) {
    if (owner == nullptr) {
        CWnd* main = AfxGetMainWnd();
        if (main != nullptr && main != &dialog) {
            owner = main->GetSafeHwnd();
        }
    }
    const INT_PTR result =
        ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), Native(owner),
                          DialogProcedure, reinterpret_cast<::LPARAM>(&dialog));
    dialog.Detach();
    return result;
}

void Win32WindowSystem::EndDialog(HWND dialog, INT_PTR result) {
    ::EndDialog(Native(dialog), result);
}

HWND Win32WindowSystem::GetDlgItem(HWND dialog, int id) {
    return Ours(::GetDlgItem(Native(dialog), id));
}

LRESULT Win32WindowSystem::SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(Native(window), message, wParam, lParam);
}

BOOL Win32WindowSystem::PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(Native(window), message, wParam, lParam);
}

LRESULT Win32WindowSystem::DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (t_frame != nullptr && t_frame->window == Native(window) && t_frame->message == message) {
        t_frame->unhandled = true;
        return 0;
    }
    return ::DefWindowProcA(Native(window), message, wParam, lParam);
}

BOOL Win32WindowSystem::EnableWindow(HWND window, BOOL enable) {
    return ::EnableWindow(Native(window), enable);
}

BOOL Win32WindowSystem::IsWindowEnabled(HWND window) { return ::IsWindowEnabled(Native(window)); }

void Win32WindowSystem::SetWindowText(HWND window, const char* text) {
    ::SetWindowTextA(Native(window), text);
}

int Win32WindowSystem::GetWindowText(HWND window, char* buffer, int size) {
    return ::GetWindowTextA(Native(window), buffer, size);
}

int Win32WindowSystem::GetWindowTextLength(HWND window) {
    return ::GetWindowTextLengthA(Native(window));
}

BOOL Win32WindowSystem::SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                                     UINT flags) {
    return ::SetWindowPos(Native(window), Native(insertAfter), x, y, cx, cy, flags);
}

UINT_PTR Win32WindowSystem::SetTimer(HWND window, UINT_PTR id, UINT elapseMs) {
    return ::SetTimer(Native(window), id, elapseMs, nullptr);
}

BOOL Win32WindowSystem::IsIconic(HWND window) { return ::IsIconic(Native(window)); }

BOOL Win32WindowSystem::GetClientRect(HWND window, RECT* rect) {
    ::RECT client{};
    if (!::GetClientRect(Native(window), &client)) {
        return FALSE;
    }
    *rect = RECT{client.left, client.top, client.right, client.bottom};
    return TRUE;
}

int Win32WindowSystem::GetSystemMetrics(int index) { return ::GetSystemMetrics(index); }

HDC Win32WindowSystem::BeginPaint(HWND window) {
    auto paint = std::make_unique<Paint>();
    ::HDC dc = ::BeginPaint(Native(window), &paint->paint);
    if (dc == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(m_paintMutex);
    HDC ours = reinterpret_cast<HDC>(dc);
    m_paints[ours] = std::move(paint);
    return ours;
}

void Win32WindowSystem::EndPaint(HWND window, HDC dc) {
    std::unique_ptr<Paint> paint;
    {
        std::lock_guard lock(m_paintMutex);
        const auto found = m_paints.find(dc);
        if (found == m_paints.end()) {
            return;
        }
        paint = std::move(found->second);
        m_paints.erase(found);
    }
    ::EndPaint(Native(window), &paint->paint);
}

BOOL Win32WindowSystem::DrawIcon(HDC dc, int x, int y, HICON icon) {
    return ::DrawIcon(Native(dc), x, y, Native(icon));
}

HICON Win32WindowSystem::LoadIcon(int resourceId) {
    return reinterpret_cast<HICON>(
        ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId)));
}

int Win32WindowSystem::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    if (owner == nullptr) {
        type |= MB_TOPMOST | MB_SETFOREGROUND;
    }
    return ::MessageBoxA(Native(owner), text, caption, type);
}

} // namespace fw::win32

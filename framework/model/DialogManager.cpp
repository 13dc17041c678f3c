// The dialog manager: each dialog's focus, Tab order, arrow keys within a group,
// mnemonics, the default button, Enter and Esc, as IsDialogMessage and the default dialog
// procedure do them; and the operator's actions built on it.
#include <algorithm>
#include <cctype>
#include <string>

#include "framework/Styles.h"
#include "framework/model/ModelWindows.h"

namespace fw::model {
namespace {

namespace st = fw::style;

bool IsKeyMessage(UINT message) {
    return message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR ||
           message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_SYSCHAR;
}

int IndexOf(const Window& dialog, const Window* control) {
    for (std::size_t i = 0; i < dialog.children.size(); ++i) {
        if (dialog.children[i].get() == control) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The upper-case letter after the first single '&' of a text ("&&" is a plain '&'), or 0.
int MnemonicOf(const std::string& text) {
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = text.find('&', from);
        if (at == std::string::npos || at + 1 >= text.size()) {
            return 0;
        }
        if (text[at + 1] != '&') {
            return std::toupper(static_cast<unsigned char>(text[at + 1]));
        }
        from = at + 2;
    }
}

} // namespace

bool ModelWindowSystem::KeyDown(int virtualKey) const {
    return std::find(m_keysDown.begin(), m_keysDown.end(), virtualKey) != m_keysDown.end();
}

void ModelWindowSystem::SetKeyState(int virtualKey, bool down) {
    std::erase(m_keysDown, virtualKey);
    if (down) {
        m_keysDown.push_back(virtualKey);
    }
}

HWND ModelWindowSystem::GetFocus() const {
    const Window* dialog = TopModal();
    return dialog != nullptr ? dialog->focus : nullptr;
}

HWND ModelWindowSystem::SetFocus(HWND handle) {
    Window* control = Find(handle);
    // As Win32: a disabled window, or one in a disabled window, cannot take the focus.
    if (control == nullptr || control->IsDialog() || !control->enabled ||
        !control->parent->enabled) {
        return nullptr;
    }
    const HWND previous = control->parent->focus;
    FocusOn(*control->parent, control);
    return previous;
}

void ModelWindowSystem::FocusOn(Window& dialog, Window* control) {
    const HWND handle = control != nullptr ? control->handle : nullptr;
    if (dialog.focus == handle) {
        return;
    }
    dialog.focus = handle;
    Record(For(control != nullptr ? *control : dialog, "SetFocus"));
}

void ModelWindowSystem::InitialFocus(Window& dialog) {
    FocusOn(dialog, NextTabItem(dialog, nullptr, false));
}

Window* ModelWindowSystem::NextTabItem(Window& dialog, const Window* from, bool previous) const {
    // With nothing focused, Tab starts at the first stop and Shift-Tab finds none, as
    // GetNextDlgTabItem does.
    if (from == nullptr && previous) {
        return nullptr;
    }
    const int count = static_cast<int>(dialog.children.size());
    const int at = from != nullptr ? IndexOf(dialog, from) : -1;
    for (int step = 1; step <= count; ++step) {
        const int index = ((at + (previous ? -step : step)) % count + count) % count;
        Window& control = *dialog.children[static_cast<std::size_t>(index)];
        if (control.enabled && (control.control->style & st::WS_TABSTOP) != 0) {
            return &control;
        }
    }
    return nullptr;
}

Window* ModelWindowSystem::NextGroupItem(Window& dialog, const Window* from, bool previous) const {
    const int count = static_cast<int>(dialog.children.size());
    if (count == 0) {
        return nullptr;
    }
    const auto startsGroup = [&dialog](int index) {
        return (dialog.children[static_cast<std::size_t>(index)]->control->style & st::WS_GROUP) !=
               0;
    };
    // A group runs from a WS_GROUP control (or the first one) up to the next WS_GROUP
    // control. Within it, every enabled control is a stop, tab stop or not.
    const int at = from != nullptr ? std::max(0, IndexOf(dialog, from)) : 0;
    int first = at;
    while (first > 0 && !startsGroup(first)) {
        --first;
    }
    int end = at + 1;
    while (end < count && !startsGroup(end)) {
        ++end;
    }
    const int size = end - first;
    for (int step = 1; step <= size; ++step) {
        const int index = first + ((at - first + (previous ? -step : step)) % size + size) % size;
        Window& control = *dialog.children[static_cast<std::size_t>(index)];
        if (control.enabled) {
            return &control;
        }
    }
    return nullptr;
}

LRESULT ModelWindowSystem::DefDialogMessage(Window& dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    switch (message) {
    case DM_GETDEFID: {
        int id = dialog.defId;
        for (const auto& child : dialog.children) {
            if (id == 0 && child->control->kind == ControlKind::PushButton &&
                (child->control->style & 0xF) == st::BS_DEFPUSHBUTTON) {
                id = child->Id();
            }
        }
        return id != 0 ? static_cast<LRESULT>((static_cast<std::uint32_t>(DC_HASDEFID) << 16) |
                                              static_cast<std::uint32_t>(id & 0xFFFF))
                       : 0;
    }
    case DM_SETDEFID:
        dialog.defId = static_cast<int>(wParam);
        return TRUE;
    case WM_NEXTDLGCTL: {
        // lParam set: wParam is the control to focus; else wParam set means the previous
        // tab stop, clear the next one.
        Window* next = lParam != 0 ? Find(reinterpret_cast<HWND>(wParam))
                                   : NextTabItem(dialog, Find(dialog.focus), wParam != 0);
        if (next != nullptr && next->parent == &dialog) {
            SetFocus(next->handle);
        }
        return 0;
    }
    default:
        return 0;
    }
}

bool ModelWindowSystem::IsDialogMessage(Window& dialog, Window& target, UINT message, WPARAM key) {
    LRESULT code = 0;
    if (message == WM_KEYDOWN || message == WM_CHAR) {
        code = SendMessage(target.handle, WM_GETDLGCODE, key, 0);
        if ((code & DLGC_WANTMESSAGE) != 0) {
            return false;
        }
    }
    switch (message) {
    case WM_KEYDOWN:
        switch (key) {
        case VK_TAB:
            if ((code & DLGC_WANTTAB) != 0) {
                return false;
            }
            SendMessage(dialog.handle, WM_NEXTDLGCTL, KeyDown(VK_SHIFT) ? 1 : 0, 0);
            return true;
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN: {
            if ((code & DLGC_WANTARROWS) != 0) {
                return false;
            }
            const bool previous = key == VK_LEFT || key == VK_UP;
            Window* next = NextGroupItem(dialog, Find(dialog.focus), previous);
            SendMessage(dialog.handle, WM_NEXTDLGCTL,
                        reinterpret_cast<WPARAM>(next != nullptr ? next->handle : nullptr), 1);
            return true;
        }
        case VK_ESCAPE:
            PressCancel(dialog);
            return true;
        case VK_RETURN:
            PressDefault(dialog, Find(dialog.focus));
            return true;
        default:
            return false;
        }
    case WM_CHAR:
        if ((code & DLGC_WANTCHARS) != 0 || (key == '\t' && (code & DLGC_WANTTAB) != 0)) {
            return false;
        }
        return PressMnemonic(dialog, target, key);
    case WM_SYSCHAR:
        return PressMnemonic(dialog, target, key);
    default:
        return false;
    }
}

void ModelWindowSystem::TranslateKey(HWND window, UINT message, WPARAM key) {
    if (message != WM_KEYDOWN && message != WM_SYSKEYDOWN) {
        return;
    }
    WPARAM character = 0;
    if (key >= 'A' && key <= 'Z') {
        character = KeyDown(VK_SHIFT) ? key : key - 'A' + 'a';
    } else if ((key >= '0' && key <= '9') ||
               (message == WM_KEYDOWN && (key == VK_SPACE || key == VK_RETURN || key == VK_ESCAPE ||
                                          key == VK_TAB || key == VK_BACK))) {
        // Digits, and these keys, have their virtual key codes as characters ('\r', '\t', ...).
        character = key;
    }
    if (character != 0) {
        PostMessage(window, message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR, character, 0);
    }
}

bool ModelWindowSystem::PressMnemonic(Window& dialog, const Window& from, WPARAM key) {
    // From the control the key came to, round the dialog in template order.
    const int count = static_cast<int>(dialog.children.size());
    const int start = std::max(0, IndexOf(dialog, &from));
    const int wanted = key < 0x80 ? std::toupper(static_cast<int>(key)) : 0;
    for (int step = 0; step < count && wanted != 0; ++step) {
        Window& control = *dialog.children[static_cast<std::size_t>((start + step) % count)];
        if (!control.enabled || MnemonicOf(control.text) != wanted) {
            continue;
        }
        const LRESULT code = SendMessage(control.handle, WM_GETDLGCODE, 0, 0);
        if ((code & DLGC_STATIC) != 0) {
            // A label's mnemonic focuses the control that follows it.
            SendMessage(dialog.handle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control.handle), 1);
            SendMessage(dialog.handle, WM_NEXTDLGCTL, 0, 0);
            return true;
        }
        if ((code & DLGC_BUTTON) != 0) {
            SendMessage(control.handle, BM_CLICK, 0, 0);
            return true;
        }
    }
    return false;
}

bool ModelWindowSystem::PressDefault(Window& dialog, const Window* focus) {
    if (focus != nullptr &&
        (SendMessage(focus->handle, WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0) {
        return SendCommand(dialog, focus->Id(), BN_CLICKED);
    }
    const auto defId = static_cast<std::uint32_t>(SendMessage(dialog.handle, DM_GETDEFID, 0, 0));
    const int id = (defId >> 16) == DC_HASDEFID ? static_cast<int>(defId & 0xFFFF) : IDOK;
    const Window* button = dialog.Child(id);
    if (button != nullptr && !button->enabled) {
        return false;
    }
    return SendCommand(dialog, id, BN_CLICKED);
}

bool ModelWindowSystem::PressCancel(Window& dialog) {
    // The program disables Cancel where it must not be taken: then Esc does nothing.
    const Window* cancel = dialog.Child(IDCANCEL);
    if (cancel != nullptr && !cancel->enabled) {
        return false;
    }
    return SendCommand(dialog, IDCANCEL, BN_CLICKED);
}

bool ModelWindowSystem::DeliverPostedKey(Window& dialog, Window& target, UINT message, WPARAM key) {
    if (!IsKeyMessage(message)) {
        return false;
    }
    const Window* owner = target.IsDialog() ? &target : target.parent;
    if (owner == &dialog && IsDialogMessage(dialog, target, message, key)) {
        return true;
    }
    TranslateKey(target.handle, message, key);
    return false;
}

bool ModelWindowSystem::Click(int controlId) {
    Window* dialog = TopModal();
    Window* control = dialog != nullptr ? dialog->Child(controlId) : nullptr;
    if (control == nullptr || !control->enabled || !dialog->enabled ||
        control->control->kind != ControlKind::PushButton) {
        return false;
    }
    SendMessage(control->handle, BM_CLICK, 0, 0);
    return true;
}

bool ModelWindowSystem::SelectItem(int listId, int index) {
    Window* dialog = TopModal();
    Window* list = dialog != nullptr ? dialog->Child(listId) : nullptr;
    if (list == nullptr || !list->enabled || !dialog->enabled || index < 0 ||
        index >= static_cast<int>(list->items.size())) {
        return false;
    }
    SetFocus(list->handle);
    ChooseItem(*list, index);
    return true;
}

bool ModelWindowSystem::PressEscape(int focusId) {
    Window* dialog = TopModal();
    if (dialog == nullptr || !dialog->enabled) {
        return false;
    }
    Window* focus = focusId != 0 ? dialog->Child(focusId) : nullptr;
    if (focus != nullptr) {
        SetFocus(focus->handle);
        if ((SendMessage(focus->handle, WM_GETDLGCODE, VK_ESCAPE, 0) & DLGC_WANTMESSAGE) != 0) {
            SendMessage(focus->handle, WM_KEYDOWN, VK_ESCAPE, 0);
            return true;
        }
    }
    return PressCancel(*dialog);
}

bool ModelWindowSystem::PressEnter() {
    Window* dialog = TopModal();
    if (dialog == nullptr || !dialog->enabled) {
        return false;
    }
    return PressDefault(*dialog, nullptr);
}

bool ModelWindowSystem::PressCloseBox() {
    Window* dialog = TopModal();
    if (dialog == nullptr || !dialog->enabled || (dialog->dialog->style & st::WS_SYSMENU) == 0) {
        return false;
    }
    SendMessage(dialog->handle, WM_CLOSE, 0, 0);
    return true;
}

} // namespace fw::model

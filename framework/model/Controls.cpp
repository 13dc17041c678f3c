// The controls' window procedures, one per kind, with what each answers the dialog manager
// (WM_GETDLGCODE) and the keys it takes for itself.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>

#include "framework/Styles.h"
#include "framework/model/ModelWindows.h"

namespace fw::model {
namespace {

namespace st = fw::style;

int Index(WPARAM wParam) { return static_cast<int>(static_cast<std::intptr_t>(wParam)); }

// A list box's lines as "MS Sans Serif" 8 gives them: 13 pixels, inside a 2-pixel border.
int ListPage(const Window& list) {
    const int border = (list.control->style & st::WS_BORDER) != 0 ? 4 : 0;
    return std::max(1, (list.control->cy * 13 / 8 - border) / 13);
}

// Where a list box's move keys take the selection; -1 for a key that is not one of them.
int ListTarget(const Window& list, WPARAM key) {
    const int last = static_cast<int>(list.items.size()) - 1;
    // With nothing selected, every move key starts at the first item.
    const int from = list.curSel;
    const int page = ListPage(list) - 1;
    switch (key) {
    case VK_UP:
    case VK_LEFT:
        return from < 0 ? 0 : std::max(0, from - 1);
    case VK_DOWN:
    case VK_RIGHT:
        return from < 0 ? 0 : std::min(last, from + 1);
    case VK_PRIOR:
        return from < 0 ? 0 : std::max(0, from - page);
    case VK_NEXT:
        return from < 0 ? 0 : std::min(last, from + page);
    case VK_HOME:
        return 0;
    case VK_END:
        return last;
    default:
        return -1;
    }
}

// The next item after the selection whose text starts with the character, round the list.
int ListItemStartingWith(const Window& list, WPARAM character) {
    const int count = static_cast<int>(list.items.size());
    for (int step = 1; step <= count; ++step) {
        const int index = (std::max(list.curSel, -1) + step) % count;
        const std::string& item = list.items[static_cast<std::size_t>(index)];
        if (!item.empty() && std::toupper(static_cast<unsigned char>(item.front())) ==
                                 std::toupper(static_cast<int>(character))) {
            return index;
        }
    }
    return -1;
}

} // namespace

LRESULT ModelWindowSystem::ControlMessage(Window& control, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    switch (control.control->kind) {
    case ControlKind::ListBox:
        return ListBoxMessage(control, message, wParam, lParam);
    case ControlKind::PushButton:
        return ButtonMessage(control, message, wParam, lParam);
    case ControlKind::GroupBox:
    case ControlKind::Static:
    case ControlKind::Picture:
    case ControlKind::Edit:
        return TextMessage(control, message, wParam, lParam);
    case ControlKind::Progress:
        return ProgressMessage(control, message, wParam, lParam);
    case ControlKind::Animation:
        return AnimationMessage(control, message, wParam, lParam);
    }
    return 0;
}

LRESULT ModelWindowSystem::CommonMessage(Window& control, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
    switch (message) {
    case WM_SETTEXT:
        SetWindowText(control.handle, reinterpret_cast<const char*>(lParam));
        return TRUE;
    case WM_GETTEXT:
        return GetWindowText(control.handle, reinterpret_cast<char*>(lParam),
                             static_cast<int>(wParam));
    case WM_GETTEXTLENGTH:
        return GetWindowTextLength(control.handle);
    default:
        return 0;
    }
}

void ModelWindowSystem::ChooseItem(Window& list, int index) {
    list.curSel = index;
    if ((list.control->style & st::LBS_NOTIFY) != 0) {
        SendCommand(*list.parent, list.Id(), LBN_SELCHANGE);
    }
}

LRESULT ModelWindowSystem::ListBoxMessage(Window& list, UINT message, WPARAM wParam,
                                          LPARAM lParam) {
    Operation operation = For(list, "");
    switch (message) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
    case WM_CHAR: {
        if (list.items.empty()) {
            return 0;
        }
        const int target =
            message == WM_KEYDOWN ? ListTarget(list, wParam) : ListItemStartingWith(list, wParam);
        // A key that leaves the selection where it is tells the dialog nothing.
        if (target >= 0 && target != list.curSel) {
            ChooseItem(list, target);
        }
        return 0;
    }
    case LB_RESETCONTENT:
        list.items.clear();
        list.curSel = -1;
        operation.what = "LB_RESETCONTENT";
        Record(operation);
        return 0;
    case LB_INSERTSTRING: {
        const int index = Index(wParam);
        const char* text = reinterpret_cast<const char*>(lParam);
        if (index < -1 || index > static_cast<int>(list.items.size())) {
            return LB_ERR;
        }
        // Insertion at a given place never sorts, whatever the list's style.
        const auto at = index == -1 ? list.items.size() : static_cast<std::size_t>(index);
        list.items.insert(list.items.begin() + static_cast<std::ptrdiff_t>(at), text);
        if (list.curSel >= static_cast<int>(at)) {
            ++list.curSel;
        }
        operation.what = "LB_INSERTSTRING";
        operation.text = text;
        operation.value = static_cast<std::int64_t>(at);
        Record(operation);
        return static_cast<LRESULT>(at);
    }
    case LB_SETCURSEL: {
        const int index = Index(wParam);
        const bool valid = index >= 0 && index < static_cast<int>(list.items.size());
        // -1 clears the selection; any other bad index leaves it as it was.
        if (valid || index == -1) {
            list.curSel = valid ? index : -1;
        }
        operation.what = "LB_SETCURSEL";
        operation.value = index;
        Record(operation);
        return valid ? index : LB_ERR;
    }
    case LB_GETCURSEL:
        return list.curSel >= 0 ? list.curSel : LB_ERR;
    case LB_GETCOUNT:
        return static_cast<LRESULT>(list.items.size());
    case LB_GETTEXTLEN:
    case LB_GETTEXT: {
        const auto index = static_cast<std::size_t>(wParam);
        if (index >= list.items.size()) {
            return LB_ERR;
        }
        const std::string& item = list.items[index];
        if (message == LB_GETTEXT) {
            std::memcpy(reinterpret_cast<char*>(lParam), item.c_str(), item.size() + 1);
        }
        return static_cast<LRESULT>(item.size());
    }
    default:
        return CommonMessage(list, message, wParam, lParam);
    }
}

LRESULT ModelWindowSystem::ButtonMessage(Window& button, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
    Window& dialog = *button.parent;
    switch (message) {
    case WM_GETDLGCODE: {
        // The focused push button looks like the default one and Enter presses it; with
        // the focus elsewhere the dialog's default button has that look.
        const Window* focus = Find(dialog.focus);
        const bool onButton = focus != nullptr && focus->control->kind == ControlKind::PushButton;
        const auto defId = static_cast<std::uint32_t>(DefDialogMessage(dialog, DM_GETDEFID, 0, 0));
        const bool isDefault =
            focus == &button || (!onButton && (defId >> 16) == DC_HASDEFID &&
                                 static_cast<int>(defId & 0xFFFF) == button.Id());
        return DLGC_BUTTON | (isDefault ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    }
    case BM_CLICK:
        // As a mouse click: the button takes the focus, then tells its dialog.
        SetFocus(button.handle);
        SendCommand(dialog, button.Id(), BN_CLICKED);
        return 0;
    case WM_KEYDOWN:
        if (wParam == VK_SPACE) {
            button.pushed = true;
        }
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE && button.pushed) {
            button.pushed = false;
            SendCommand(dialog, button.Id(), BN_CLICKED);
        }
        return 0;
    default:
        return CommonMessage(button, message, wParam, lParam);
    }
}

LRESULT ModelWindowSystem::TextMessage(Window& text, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool edit = text.control->kind == ControlKind::Edit;
    const bool multiLine = edit && (text.control->style & st::ES_MULTILINE) != 0;
    Window& dialog = *text.parent;
    switch (message) {
    case WM_GETDLGCODE:
        if (!edit) {
            return DLGC_STATIC;
        }
        return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS |
               (multiLine ? DLGC_WANTALLKEYS : 0);
    case EM_GETFIRSTVISIBLELINE:
        return edit ? text.top : 0;
    case WM_KEYDOWN:
        if (!edit) {
            return 0;
        }
        // A multi-line edit in a dialog gets every key, and does the dialog manager's work
        // for the keys it has no use for.
        if (multiLine && wParam == VK_ESCAPE) {
            PostMessage(dialog.handle, WM_CLOSE, 0, 0);
        } else if (multiLine && wParam == VK_TAB) {
            SendMessage(dialog.handle, WM_NEXTDLGCTL, KeyDown(VK_SHIFT) ? 1 : 0, 0);
        } else if (multiLine && wParam == VK_RETURN) {
            const auto defId =
                static_cast<std::uint32_t>(SendMessage(dialog.handle, DM_GETDEFID, 0, 0));
            Window* button = (defId >> 16) == DC_HASDEFID
                                 ? dialog.Child(static_cast<int>(defId & 0xFFFF))
                                 : nullptr;
            if (button != nullptr) {
                SendMessage(dialog.handle, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button->handle),
                            TRUE);
                PostMessage(button->handle, WM_KEYDOWN, VK_RETURN, 0);
            }
        } else if (wParam == VK_UP || wParam == VK_PRIOR || wParam == VK_HOME) {
            text.top = wParam == VK_HOME ? 0 : std::max(0, text.top - (wParam == VK_UP ? 1 : 8));
        } else if (wParam == VK_DOWN || wParam == VK_NEXT || wParam == VK_END) {
            constexpr int kFarDown = 1 << 20;
            text.top = wParam == VK_END
                           ? kFarDown
                           : std::min(kFarDown, text.top + (wParam == VK_DOWN ? 1 : 8));
        }
        return 0;
    default:
        return CommonMessage(text, message, wParam, lParam);
    }
}

LRESULT ModelWindowSystem::ProgressMessage(Window& bar, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message != PBM_SETPOS) {
        return CommonMessage(bar, message, wParam, lParam);
    }
    const int previous = bar.position;
    bar.position = std::clamp(static_cast<int>(wParam), 0, 100);
    Operation operation = For(bar, "PBM_SETPOS");
    operation.value = bar.position;
    Record(operation);
    return previous;
}

LRESULT ModelWindowSystem::AnimationMessage(Window& animation, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message != ACM_OPENA) {
        return CommonMessage(animation, message, wParam, lParam);
    }
    const char* name = reinterpret_cast<const char*>(lParam);
    std::ifstream file(name != nullptr ? name : "", std::ios::binary);
    char riff[12] = {};
    const bool playable = file.read(riff, sizeof riff) && std::memcmp(riff, "RIFF", 4) == 0 &&
                          std::memcmp(riff + 8, "AVI ", 4) == 0;
    if (playable) {
        animation.clip = name;
    } else {
        animation.clip.reset();
    }
    Operation operation = For(animation, "ACM_OPEN");
    operation.text = name != nullptr ? name : "";
    operation.value = playable ? 1 : 0;
    operation.extra = static_cast<std::int64_t>(wParam);
    Record(operation);
    return playable ? TRUE : FALSE;
}

} // namespace fw::model

#include "framework/tui/Input.h"

#include <algorithm>
#include <cctype>

#include "framework/Styles.h"
#include "framework/tui/Curses.h"

namespace fw::tui {
namespace {

namespace st = fw::style;
using fw::ControlKind;

bool Focusable(const model::Window& control) {
    const auto kind = control.control->kind;
    return control.enabled && (control.control->style & st::WS_TABSTOP) != 0 &&
           (kind == ControlKind::ListBox || kind == ControlKind::PushButton ||
            kind == ControlKind::Edit);
}

} // namespace

bool Input::ReadKeys(const std::function<bool(int key, bool alt)>& handle) {
    bool any = false;
    for (;;) {
        int key = wgetch(stdscr);
        if (key == ERR) {
            break;
        }
        any = true;
        bool alt = false;
        if (key == kEscape) {
            // Alt+letter arrives as ESC and the letter together.
            const int next = wgetch(stdscr);
            if (next == '[' || next == 'O') {
                // A key sequence curses does not know: never mistake it for Esc, which
                // would disagree or rescan.
                int tail = wgetch(stdscr);
                while (tail != ERR && !(tail >= 0x40 && tail <= 0x7E)) {
                    tail = wgetch(stdscr);
                }
                continue;
            }
            if (next != ERR && next < 128 && std::isalnum(next) != 0) {
                key = next;
                alt = true;
            } else if (next != ERR) {
                handle(kEscape, false);
                key = next;
            }
        }
        if (!handle(key, alt)) {
            break;
        }
    }
    return any;
}

std::optional<int> Input::BoxKey(Box& box, int key) const {
    const auto buttons = MessageBoxButtons(box.type);
    const int count = static_cast<int>(buttons.size());
    switch (key) {
    case '\t':
    case KEY_RIGHT:
        box.focus = (box.focus + 1) % count;
        return std::nullopt;
    case KEY_BTAB:
    case KEY_LEFT:
        box.focus = (box.focus + count - 1) % count;
        return std::nullopt;
    case '\n':
    case '\r':
    case KEY_ENTER:
    case ' ':
        return buttons[static_cast<std::size_t>(box.focus)].id;
    case kEscape:
        // As the system's boxes: Esc is Cancel, or OK in a box that has only OK.
        for (const auto& button : buttons) {
            if (button.id == IDCANCEL) {
                return IDCANCEL;
            }
        }
        if (count == 1 && buttons.front().id == IDOK) {
            return IDOK;
        }
        return std::nullopt;
    default:
        break;
    }
    if (key > 0 && key < 128) {
        const char letter = static_cast<char>(std::tolower(key));
        for (const auto& button : buttons) {
            if (button.key != 0 && button.key == letter) {
                return button.id;
            }
        }
    }
    return std::nullopt;
}

void Input::DialogKey(model::Window& dialog, int key) {
    if (!dialog.enabled) {
        return;
    }
    model::Window* focus = Focus(dialog);
    const ControlKind kind = focus != nullptr ? focus->control->kind : ControlKind::Static;
    const bool onButton = focus != nullptr && kind == ControlKind::PushButton;
    switch (key) {
    case '\t':
        MoveFocus(dialog, 1);
        return;
    case KEY_BTAB:
        MoveFocus(dialog, -1);
        return;
    case KEY_UP:
    case KEY_DOWN:
    case KEY_LEFT:
    case KEY_RIGHT:
    case KEY_PPAGE:
    case KEY_NPAGE:
    case KEY_HOME:
    case KEY_END: {
        const bool back = key == KEY_UP || key == KEY_LEFT || key == KEY_PPAGE || key == KEY_HOME;
        int step = back ? -1 : 1;
        if (key == KEY_PPAGE || key == KEY_NPAGE) {
            step *= 8;
        } else if (key == KEY_HOME || key == KEY_END) {
            step *= 1 << 20;
        }
        if (focus == nullptr) {
            return;
        }
        if (kind == ControlKind::ListBox && key != KEY_LEFT && key != KEY_RIGHT) {
            MoveSelection(*focus, step);
        } else if (kind == ControlKind::Edit && key != KEY_LEFT && key != KEY_RIGHT) {
            ScrollEdit(*focus, step);
        } else if (onButton) {
            MoveFocus(dialog, back ? -1 : 1);
        }
        return;
    }
    case '\n':
    case '\r':
    case KEY_ENTER:
        if (onButton) {
            m_windows.Click(focus->Id());
        } else {
            m_windows.PressEnter();
        }
        return;
    case ' ':
        if (onButton) {
            m_windows.Click(focus->Id());
        }
        return;
    case kEscape:
        m_windows.PressEscape(focus != nullptr ? focus->Id() : 0);
        return;
    default:
        break;
    }
    // A letter presses its button with or without Alt.
    if (key > 0 && key < 128 && std::isalnum(key) != 0) {
        PressMnemonic(dialog, key);
    }
}

bool Input::PressMnemonic(model::Window& dialog, int key) {
    const char letter = static_cast<char>(std::tolower(key));
    for (const auto& child : dialog.children) {
        if (child->control->kind == ControlKind::PushButton && child->enabled &&
            ParseMnemonic(child->text).key == letter) {
            m_scene.focus[dialog.handle] = child->handle;
            return m_windows.Click(child->Id());
        }
    }
    return false;
}

model::Window* Input::Focus(model::Window& dialog) {
    const auto found = m_scene.focus.find(dialog.handle);
    if (found != m_scene.focus.end()) {
        model::Window* control = m_windows.Find(found->second);
        if (control != nullptr && control->parent == &dialog && Focusable(*control)) {
            return control;
        }
    }
    for (const auto& child : dialog.children) {
        if (Focusable(*child)) {
            m_scene.focus[dialog.handle] = child->handle;
            return child.get();
        }
    }
    return nullptr;
}

void Input::MoveFocus(model::Window& dialog, int step) {
    std::vector<model::Window*> stops;
    for (const auto& child : dialog.children) {
        if (Focusable(*child)) {
            stops.push_back(child.get());
        }
    }
    if (stops.empty()) {
        return;
    }
    const model::Window* current = Focus(dialog);
    const auto at = std::find(stops.begin(), stops.end(), current);
    const int count = static_cast<int>(stops.size());
    const int index = at != stops.end() ? static_cast<int>(at - stops.begin()) : 0;
    m_scene.focus[dialog.handle] =
        stops[static_cast<std::size_t>((index + step + count) % count)]->handle;
}

void Input::MoveSelection(model::Window& list, int step) {
    const int count = static_cast<int>(list.items.size());
    if (count == 0) {
        return;
    }
    const long wanted = list.curSel < 0 ? 0 : static_cast<long>(list.curSel) + step;
    const int target = static_cast<int>(std::clamp<long>(wanted, 0, count - 1));
    if (target != list.curSel) {
        m_windows.SelectItem(list.Id(), target);
    }
}

void Input::ScrollEdit(model::Window& edit, int step) {
    const long top = static_cast<long>(m_scene.top[edit.handle]) + step;
    // The upper end is clamped when drawn, where the number of lines is known.
    m_scene.top[edit.handle] = static_cast<int>(std::clamp<long>(top, 0, 1 << 20));
}

std::optional<int> Input::Mouse(const Box* top) {
    MEVENT event{};
    if (getmouse(&event) != OK) {
        return std::nullopt;
    }
    const Hit* hit = nullptr;
    for (auto it = m_scene.hits.rbegin(); it != m_scene.hits.rend(); ++it) {
        if (it->rect.Contains(event.x, event.y)) {
            hit = &*it;
            break;
        }
    }
    if (hit == nullptr) {
        return std::nullopt;
    }
    const Hit target = *hit;
    const bool wheelUp = (event.bstate & BUTTON4_PRESSED) != 0;
    const bool wheelDown = (event.bstate & BUTTON5_PRESSED) != 0;
    const bool click = (event.bstate & (BUTTON1_CLICKED | BUTTON1_RELEASED)) != 0;
    if (target.kind == Hit::BoxButton) {
        if (click && top != nullptr) {
            const auto buttons = MessageBoxButtons(top->type);
            if (target.index < static_cast<int>(buttons.size())) {
                return buttons[static_cast<std::size_t>(target.index)].id;
            }
        }
        return std::nullopt;
    }
    model::Window* dialog = m_windows.TopModal();
    if (dialog == nullptr) {
        return std::nullopt;
    }
    if (target.kind == Hit::CloseBox) {
        if (click) {
            m_windows.PressCloseBox();
        }
        return std::nullopt;
    }
    model::Window* control = m_windows.Find(target.control);
    if (control == nullptr) {
        return std::nullopt;
    }
    const bool isList = control->control->kind == ControlKind::ListBox;
    if (wheelUp || wheelDown || target.kind == Hit::ScrollUp || target.kind == Hit::ScrollDown) {
        if (!wheelUp && !wheelDown && !click) {
            return std::nullopt;
        }
        const int step = wheelUp || target.kind == Hit::ScrollUp ? -1 : 1;
        if (isList) {
            m_scene.top[control->handle] = std::max(0, m_scene.top[control->handle] + step);
        } else {
            ScrollEdit(*control, step);
        }
        return std::nullopt;
    }
    if (!click) {
        return std::nullopt;
    }
    if (Focusable(*control)) {
        m_scene.focus[dialog->handle] = control->handle;
    }
    if (target.kind == Hit::Button) {
        m_windows.Click(control->Id());
    } else if (target.kind == Hit::ListItem && target.index != control->curSel) {
        m_windows.SelectItem(control->Id(), target.index);
    }
    return std::nullopt;
}

} // namespace fw::tui

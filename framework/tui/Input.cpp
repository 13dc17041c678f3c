#include "framework/tui/Input.h"

#include <algorithm>
#include <cctype>
#include <langinfo.h>
#include <string_view>

#include "framework/tui/Curses.h"

namespace fw::tui {
namespace {

using fw::ControlKind;

bool IsAsciiAlnum(int key) { return key >= 0 && key < 128 && std::isalnum(key) != 0; }

// The letter or digit of a meta key (eighth bit set), or 0.
int MetaLetter(int codePoint) {
    return codePoint >= 0x80 && codePoint < 0x100 && IsAsciiAlnum(codePoint & 0x7F)
               ? codePoint & 0x7F
               : 0;
}

} // namespace

bool Input::ReadKeys(const std::function<bool(int key, bool alt)>& handle) {
    const char* codeset = nl_langinfo(CODESET);
    const KeySource source{[] { return wgetch(stdscr); }, [](int key) { ungetch(key); },
                           codeset != nullptr && std::string_view(codeset) == "UTF-8"};
    return ReadKeys(source, handle);
}

bool Input::ReadKeys(const KeySource& source,
                     const std::function<bool(int key, bool alt)>& handle) {
    bool any = false;
    for (;;) {
        int key = source.read();
        if (key == ERR) {
            break;
        }
        any = true;
        bool alt = false;
        if (key == kEscape) {
            // Alt+letter arrives as ESC and the letter together.
            const int next = source.read();
            // Each read() takes the next byte: next is not key.
            // cppcheck-suppress oppositeInnerCondition
            if (next == '[' || next == 'O') {
                // A key sequence curses does not know: never mistake it for Esc, which
                // would disagree or rescan.
                int tail = source.read();
                while (tail != ERR && !(tail >= 0x40 && tail <= 0x7E)) {
                    tail = source.read();
                }
                continue;
            }
            if (IsAsciiAlnum(next)) {
                key = next;
                alt = true;
            } else if (next != ERR) {
                source.unread(next);
            }
        } else if (source.utf8 && (key == 0xC2 || key == 0xC3)) {
            // A meta key from a UTF-8 terminal: the eighth bit set, encoded in two bytes.
            const int next = source.read();
            const int letter =
                (next & 0xC0) == 0x80 ? MetaLetter(((key & 0x1F) << 6) | (next & 0x3F)) : 0;
            if (letter != 0) {
                key = letter;
                alt = true;
            } else if (next != ERR) {
                source.unread(next);
            }
        } else if (!source.utf8 && MetaLetter(key) != 0) {
            key = MetaLetter(key);
            alt = true;
        }
        if (!handle(key, alt)) {
            break;
        }
    }
    return any;
}

std::optional<Stroke> Input::StrokeFor(int key, bool alt) {
    if (alt) {
        // Alt with a letter or digit: a mnemonic, whatever the focused control wants.
        if (!IsAsciiAlnum(key)) {
            return std::nullopt;
        }
        const bool capital = std::isupper(key) != 0;
        return Stroke{std::toupper(key), capital, true};
    }
    switch (key) {
    case '\t':
        return Stroke{VK_TAB};
    case KEY_BTAB:
        return Stroke{VK_TAB, true};
    case '\n':
    case '\r':
    case KEY_ENTER:
        return Stroke{VK_RETURN};
    case kEscape:
        return Stroke{VK_ESCAPE};
    case ' ':
        return Stroke{VK_SPACE};
    case KEY_UP:
        return Stroke{VK_UP};
    case KEY_DOWN:
        return Stroke{VK_DOWN};
    case KEY_LEFT:
        return Stroke{VK_LEFT};
    case KEY_RIGHT:
        return Stroke{VK_RIGHT};
    case KEY_PPAGE:
        return Stroke{VK_PRIOR};
    case KEY_NPAGE:
        return Stroke{VK_NEXT};
    case KEY_HOME:
        return Stroke{VK_HOME};
    case KEY_END:
        return Stroke{VK_END};
    default:
        break;
    }
    if (IsAsciiAlnum(key)) {
        // Letters' virtual keys are the capitals; Shift makes the character a capital.
        return Stroke{std::toupper(key), std::isupper(key) != 0};
    }
    return std::nullopt;
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

void Input::HoldKey(int virtualKey, bool down) {
    // Through the queue, so the dialog manager reads the key state of the key it takes,
    // as GetKeyState does.
    m_windows.RunOnUserInterfaceThread(
        [this, virtualKey, down] { m_windows.SetKeyState(virtualKey, down); });
}

bool Input::DialogKey(model::Window& dialog, int key, bool alt) {
    // A disabled window gets no keys.
    const std::optional<Stroke> stroke = StrokeFor(key, alt);
    if (!dialog.enabled || !stroke) {
        return false;
    }
    const HWND focus = m_windows.GetFocus();
    const HWND target = focus != nullptr ? focus : dialog.handle;
    const auto virtualKey = static_cast<WPARAM>(stroke->virtualKey);
    // A terminal tells of presses only: each key goes down and comes up again.
    if (stroke->shift) {
        HoldKey(VK_SHIFT, true);
    }
    if (stroke->alt) {
        HoldKey(VK_MENU, true);
    }
    m_windows.PostMessage(target, stroke->alt ? WM_SYSKEYDOWN : WM_KEYDOWN, virtualKey, 0);
    m_windows.PostMessage(target, stroke->alt ? WM_SYSKEYUP : WM_KEYUP, virtualKey, 0);
    if (stroke->alt) {
        HoldKey(VK_MENU, false);
    }
    if (stroke->shift) {
        HoldKey(VK_SHIFT, false);
    }
    return true;
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
    if (m_windows.TopModal() == nullptr) {
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
    if (wheelUp || wheelDown || target.kind == Hit::ScrollUp || target.kind == Hit::ScrollDown) {
        if (!wheelUp && !wheelDown && !click) {
            return std::nullopt;
        }
        const int step = wheelUp || target.kind == Hit::ScrollUp ? -1 : 1;
        // The upper end is clamped when drawn, where the number of lines is known.
        int& first = control->control->kind == ControlKind::ListBox ? m_scene.top[control->handle]
                                                                    : control->top;
        first = std::max(0, first + step);
        return std::nullopt;
    }
    if (!click) {
        return std::nullopt;
    }
    if (target.kind == Hit::Button) {
        m_windows.Click(control->Id());
    } else if (target.kind == Hit::ListItem && target.index != control->curSel) {
        m_windows.SelectItem(control->Id(), target.index);
    } else {
        m_windows.SetFocus(control->handle);
    }
    return std::nullopt;
}

} // namespace fw::tui

// The real window system's driver. The operator is a thread timer of the user-interface
// thread: every modal loop there (the dialogs' and the message boxes') dispatches its ticks,
// and the system makes a tick only when nothing else is queued, so a tick finds the top
// loop idle. A tick answers a message box that is up, else runs the next step when its
// dialog is the top one. Clicks and keys are real input (SendInput): the system decides
// which window gets them and what they do.
#include "framework/win32/Win32Native.h"

#include <deque>
#include <string>
#include <vector>

#include "framework/win32/Win32Kernel.h"
#include "framework/win32/Win32Windows.h"
#include "tests/conformance/Driver.h"

namespace conformance {
namespace {

using fw::win32::Native;

constexpr ::UINT kTickMs = 10;
// A dialog with no step left for this long is ended, as the model ends one at once.
constexpr ::DWORD kIdleLimitMs = 5000;
// The static control of a message box that shows its text.
constexpr int kBoxTextId = 0xFFFF;

std::string ClassOf(::HWND window) {
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

class Win32Driver final : public Driver {
public:
    Win32Driver() {
        fw::InstallPlatform(&m_windows, &m_kernel);
        s_current = this;
        m_timer = ::SetTimer(nullptr, 0, kTickMs, &Win32Driver::Tick);
        m_idleSince = ::GetTickCount();
    }
    ~Win32Driver() override {
        ::KillTimer(nullptr, m_timer);
        s_current = nullptr;
        fw::InstallPlatform(nullptr, nullptr);
    }

    fw::INT_PTR Run(TestDialog& dialog) override {
        const std::size_t depth = m_open.size();
        const fw::INT_PTR result = dialog.DoModal();
        // Also when the dialog never got as far as its initialisation.
        m_open.resize(depth);
        m_idleSince = ::GetTickCount();
        return result;
    }
    void Shown(TestDialog& dialog) override {
        m_open.push_back(Open{static_cast<int>(dialog.TemplateId()), Native(dialog.GetSafeHwnd())});
    }

    void Then(int dialogId, std::function<void()> step) override {
        m_steps.push_back(Scripted{dialogId, std::move(step)});
    }

    void Click(int controlId) override {
        ::HWND button = ::GetDlgItem(Top(), controlId);
        ::RECT area{};
        if (button != nullptr && ::GetClientRect(button, &area)) {
            ClickAt(button, ::POINT{area.right / 2, area.bottom / 2});
        }
    }

    void SelectItem(int listId, int index) override {
        ::HWND list = ::GetDlgItem(Top(), listId);
        ::RECT item{};
        if (list != nullptr && ::SendMessageA(list, LB_GETITEMRECT, static_cast<::WPARAM>(index),
                                              reinterpret_cast<::LPARAM>(&item)) != LB_ERR) {
            ClickAt(list, ::POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2});
        }
    }

    void PressKey(int virtualKey, Modifier modifier) override {
        std::vector<::INPUT> keys;
        const auto add = [&keys](int key, bool up) {
            ::INPUT input{};
            input.type = INPUT_KEYBOARD;
            input.ki.wVk = static_cast<::WORD>(key);
            input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
            keys.push_back(input);
        };
        const int held = modifier == kShift ? VK_SHIFT : modifier == kAlt ? VK_MENU : 0;
        if (held != 0) {
            add(held, false);
        }
        add(virtualKey, false);
        add(virtualKey, true);
        if (held != 0) {
            add(held, true);
        }
        ::SendInput(static_cast<::UINT>(keys.size()), keys.data(), sizeof(::INPUT));
    }
    void Focus(int controlId) override { ::SetFocus(::GetDlgItem(Top(), controlId)); }
    int FocusedControl() override {
        ::HWND focus = ::GetFocus();
        return focus != nullptr && focus != Top() ? ::GetDlgCtrlID(focus) : 0;
    }

    void AnswerBoxes(std::function<int(const std::string& text)> answer) override {
        m_answer = std::move(answer);
    }

    std::vector<std::string> Problems() override {
        std::vector<std::string> problems = m_problems;
        for (const Scripted& step : m_steps) {
            problems.push_back("step for dialog " + std::to_string(step.dialogId) + " never ran");
        }
        return problems;
    }

private:
    struct Open {
        int id;
        ::HWND window;
    };
    struct Scripted {
        int dialogId;
        std::function<void()> step;
    };

    ::HWND Top() const { return m_open.empty() ? nullptr : m_open.back().window; }

    // A press and release of the left button at a point of the window, as the mouse makes
    // them: the system decides which window gets them, and whether any does. They arrive
    // with the modal loop's next messages.
    static void ClickAt(::HWND window, ::POINT point) {
        ::ClientToScreen(window, &point);
        ::SetCursorPos(point.x, point.y);
        ::INPUT press[2]{};
        press[0].type = INPUT_MOUSE;
        press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
        press[1].type = INPUT_MOUSE;
        press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
        ::SendInput(2, press, sizeof(::INPUT));
    }

    // A message box of this thread: a dialog-class window that is none of the test's.
    ::HWND FindBox() const {
        BoxSearch search{this, nullptr};
        ::EnumThreadWindows(::GetCurrentThreadId(), &Win32Driver::Visit,
                            reinterpret_cast<::LPARAM>(&search));
        return search.box;
    }
    struct BoxSearch {
        const Win32Driver* driver;
        ::HWND box;
    };
    static ::BOOL CALLBACK Visit(::HWND window, ::LPARAM context) {
        auto* search = reinterpret_cast<BoxSearch*>(context);
        if (ClassOf(window) != "#32770" || !::IsWindowVisible(window)) {
            return TRUE;
        }
        for (const Open& open : search->driver->m_open) {
            if (open.window == window) {
                return TRUE;
            }
        }
        search->box = window;
        return FALSE;
    }

    void AnswerBox(::HWND box) {
        if (box == m_answered) {
            return; // pressed already, still closing
        }
        m_answered = box;
        char text[1024] = {};
        ::GetDlgItemTextA(box, kBoxTextId, text, sizeof text);
        if (!m_answer) {
            m_problems.push_back(std::string("unanswered message box: ") + text);
            ::EndDialog(box, IDCANCEL);
            return;
        }
        const int button = m_answer(text);
        ::HWND pressed = ::GetDlgItem(box, button);
        if (pressed == nullptr) {
            m_problems.push_back(std::string("no such button in the box: ") + text);
            ::EndDialog(box, IDCANCEL);
            return;
        }
        ::PostMessageA(pressed, BM_CLICK, 0, 0);
    }

    void OnTick() {
        if (::HWND box = FindBox(); box != nullptr) {
            AnswerBox(box);
            return;
        }
        if (m_open.empty()) {
            return;
        }
        if (!m_steps.empty() && m_steps.front().dialogId == m_open.back().id) {
            std::function<void()> step = std::move(m_steps.front().step);
            m_steps.pop_front();
            m_idleSince = ::GetTickCount();
            step();
            m_idleSince = ::GetTickCount();
            return;
        }
        if (::GetTickCount() - m_idleSince > kIdleLimitMs) {
            m_problems.push_back("dialog " + std::to_string(m_open.back().id) +
                                 " was left with nothing to do");
            ::EndDialog(m_open.back().window, IDABORT);
            m_idleSince = ::GetTickCount();
        }
    }

    static void CALLBACK Tick(::HWND, ::UINT, ::UINT_PTR, ::DWORD) {
        if (s_current != nullptr) {
            s_current->OnTick();
        }
    }

    static Win32Driver* s_current;
    fw::win32::Win32Kernel m_kernel;
    fw::win32::Win32WindowSystem m_windows;
    ::UINT_PTR m_timer = 0;
    ::DWORD m_idleSince = 0;
    std::vector<Open> m_open;
    std::deque<Scripted> m_steps;
    std::function<int(const std::string&)> m_answer;
    ::HWND m_answered = nullptr;
    std::vector<std::string> m_problems;
};

Win32Driver* Win32Driver::s_current = nullptr;

} // namespace

std::unique_ptr<Driver> MakeWin32Driver() { return std::make_unique<Win32Driver>(); }

} // namespace conformance

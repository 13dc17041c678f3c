// A window system kept as a model in memory: dialogs and their controls built from the
// dialog templates, with the Win32 behaviour the program relies on (list box, progress bar,
// animation, texts, enabling, timers, posted messages, modal loops that disable their
// owner, and the dialog manager: focus, Tab order, arrows, mnemonics, the default button,
// Enter, Esc and close handling).
//
// The headless backend (tests) and the terminal backend both build on it: they supply an
// operator (what happens while a modal loop is idle), message boxes and, for the terminal,
// drawing. All windows belong to the user-interface thread; only MessageBox and
// PostMessage may be called from other threads.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "framework/Templates.h"
#include "framework/fw.h"
#include "framework/model/Input.h"

namespace fw::model {

struct Window {
    HWND handle = nullptr;
    Window* parent = nullptr;                 // the dialog, for a control
    const DialogTemplate* dialog = nullptr;   // set for a dialog
    const ControlTemplate* control = nullptr; // set for a control
    CDialog* object = nullptr;                // the dialog's object
    HWND owner = nullptr;                     // a dialog's owner
    std::string text;
    bool enabled = true;
    // Dialog: the control with the focus while the dialog is active (nullptr: none), and
    // the id DM_SETDEFID gave (0: the template's BS_DEFPUSHBUTTON, if any).
    HWND focus = nullptr;
    int defId = 0;
    // List box.
    std::vector<std::string> items;
    int curSel = -1;
    // Progress bar.
    int position = 0;
    // Edit: the first line shown. The model knows no line lengths: whoever draws the text
    // clamps it to the lines there are.
    int top = 0;
    // Push button: held down by the space bar, clicked when it comes up.
    bool pushed = false;
    // Animation control: the clip that is open and playing, if any.
    std::optional<std::string> clip;
    // Dialog placement and state.
    int x = 0;
    int y = 0;
    bool topmost = false;
    bool iconic = false;
    RECT client{0, 0, 0, 0};
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    struct Timer {
        UINT_PTR id;
        UINT period;
        std::uint64_t due;
    };
    std::vector<Timer> timers;
    bool ended = false;
    INT_PTR result = 0;
    std::vector<std::unique_ptr<Window>> children;

    int Id() const;
    bool IsDialog() const { return dialog != nullptr; }
    Window* Child(int id) const;
};

// One thing the window system did, for tests to read back and for terminals to redraw.
struct Operation {
    std::string what;  // e.g. "SetWindowText", "LB_INSERTSTRING", "EnableWindow"
    int dialogId = 0;  // template id of the dialog (of the control's dialog), 0 for none
    int controlId = 0; // control id, 0 for the dialog itself
    std::string text;
    std::int64_t value = 0;
    std::int64_t extra = 0;
    std::uint64_t time = 0; // kernel milliseconds
};

class ModelWindowSystem : public WindowSystem {
public:
    explicit ModelWindowSystem(Kernel& kernel);
    ~ModelWindowSystem() override;
    ModelWindowSystem(const ModelWindowSystem&) = delete;
    ModelWindowSystem& operator=(const ModelWindowSystem&) = delete;

    // WindowSystem
    INT_PTR RunModalDialog(CDialog& dialog, int templateId, HWND owner) override;
    void EndDialog(HWND dialog, INT_PTR result) override;
    HWND GetDlgItem(HWND dialog, int id) override;
    LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL EnableWindow(HWND window, BOOL enable) override;
    BOOL IsWindowEnabled(HWND window) override;
    void SetWindowText(HWND window, const char* text) override;
    int GetWindowText(HWND window, char* buffer, int size) override;
    int GetWindowTextLength(HWND window) override;
    BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy,
                      UINT flags) override;
    UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs) override;
    BOOL IsIconic(HWND window) override;
    BOOL GetClientRect(HWND window, RECT* rect) override;
    int GetSystemMetrics(int index) override;
    HDC BeginPaint(HWND window) override;
    void EndPaint(HWND window, HDC dc) override;
    BOOL DrawIcon(HDC dc, int x, int y, HICON icon) override;
    HICON LoadIcon(int resourceId) override;

    // Inspection, on the user-interface thread.
    Window* Find(HWND window) const;
    // The dialogs whose modal loops run, outermost first.
    const std::vector<Window*>& ModalStack() const { return m_modal; }
    Window* TopModal() const { return m_modal.empty() ? nullptr : m_modal.back(); }

    // The dialog manager, on the user-interface thread. Keys enter as they do in Win32:
    // WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_SYSKEYDOWN and WM_SYSCHAR posted to the focused
    // control (or to the dialog when nothing has the focus). The modal loop hands those of
    // its dialog to the dialog manager (Tab, arrows, Enter, Esc, mnemonics) and what that
    // leaves to the control, after turning a character key's WM_KEYDOWN (WM_SYSKEYDOWN)
    // into WM_CHAR (WM_SYSCHAR) as TranslateMessage does.
    //
    // The focused control of the top modal dialog; nullptr when none.
    HWND GetFocus() const;
    // Focuses an enabled control of a running dialog, as Win32's SetFocus: returns the
    // control that had that dialog's focus, or nullptr (also when refused: no such window,
    // a dialog, a disabled control). The dialog's initial focus is its first enabled
    // WS_TABSTOP control, chosen when WM_INITDIALOG returns TRUE.
    HWND SetFocus(HWND window);
    // Holds a key down or lets it go for the dialog manager, which reads it as GetKeyState
    // does: VK_SHIFT held turns Tab into Shift-Tab and a letter key into a capital.
    void SetKeyState(int virtualKey, bool down);

    // What an operator does, on the user-interface thread, to the top modal dialog. Each
    // returns false when the action is impossible (no such control, disabled, the dialog
    // is not the top one). A click focuses its control, as the mouse does.
    bool Click(int controlId);
    bool SelectItem(int listId, int index);
    // Esc with the focus on control focusId (0: on a control that leaves Esc to the dialog
    // manager). A multi-line edit takes Esc itself and posts WM_CLOSE to its dialog.
    bool PressEscape(int focusId = 0);
    // Enter with the focus on a control that is not a push button: the default button.
    bool PressEnter();
    bool PressCloseBox();

    // Runs a function on the user-interface thread, inside the modal loop that runs there
    // (from any thread); it runs in turn with posted messages.
    void RunOnUserInterfaceThread(std::function<void()> work);

protected:
    // Called on every operation of the window system, on the thread that made it.
    virtual void OnOperation(const Operation&) {}
    // Called when the modal loop of the top dialog has nothing queued and no timer due.
    // Returns true when it did something (the loop then looks again at once); false to let
    // the loop wait until the next timer, a posted message, or Wake().
    virtual bool OnIdle(Window& dialog) = 0;
    // Waits until deadline (kernel milliseconds; none: no timer), or until Wake().
    virtual void WaitForActivity(std::optional<std::uint64_t> deadline);
    // Ends a WaitForActivity early; called from any thread when something was queued.
    virtual void Wake();

    void Record(Operation operation);
    Kernel& m_kernel;

private:
    struct Posted {
        HWND window;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        std::function<void()> work;
    };
    std::unique_ptr<Window> Create(const DialogTemplate& dialog);
    bool DispatchOne(Window& dialog);

    // Controls, one window procedure per kind (Controls.cpp).
    LRESULT ControlMessage(Window& control, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ListBoxMessage(Window& list, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ButtonMessage(Window& button, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT TextMessage(Window& text, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ProgressMessage(Window& bar, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT AnimationMessage(Window& animation, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CommonMessage(Window& control, UINT message, WPARAM wParam, LPARAM lParam);
    // Selects an item as the person at the list does; LBN_SELCHANGE when LBS_NOTIFY.
    void ChooseItem(Window& list, int index);

    // The dialog manager (DialogManager.cpp).
    // IsDialogMessage: true when the key was the dialog manager's, false to deliver it.
    bool IsDialogMessage(Window& dialog, Window& target, UINT message, WPARAM key);
    // A posted key, as the modal loop of dialog takes it: true when the dialog manager
    // used it, false when it goes on to its window (its character posted after it).
    bool DeliverPostedKey(Window& dialog, Window& target, UINT message, WPARAM key);
    void TranslateKey(HWND window, UINT message, WPARAM key);
    LRESULT DefDialogMessage(Window& dialog, UINT message, WPARAM wParam, LPARAM lParam);
    void FocusOn(Window& dialog, Window* control);
    void InitialFocus(Window& dialog);
    Window* NextTabItem(Window& dialog, const Window* from, bool previous) const;
    Window* NextGroupItem(Window& dialog, const Window* from, bool previous) const;
    bool PressMnemonic(Window& dialog, const Window& from, WPARAM key);
    bool PressDefault(Window& dialog, const Window* focus);
    bool PressCancel(Window& dialog);
    bool KeyDown(int virtualKey) const;
    std::optional<std::uint64_t> NextTimer() const;
    bool FireDueTimer();
    bool SendCommand(Window& dialog, int id, UINT code);
    void Forget(Window& window);
    Operation For(const Window& window, const char* what) const;

    // Changed on the user-interface thread only, under m_queueMutex: PostMessage looks
    // windows up from any thread.
    std::map<HWND, Window*> m_windows;
    std::vector<Window*> m_modal;
    std::uintptr_t m_nextHandle = 0x100;
    std::mutex m_queueMutex;
    std::deque<Posted> m_queue;
    std::vector<int> m_keysDown; // SetKeyState
    HANDLE m_activity = nullptr; // signalled while the queue holds something
};

} // namespace fw::model

// One window system under test, as the conformance cases see it: dialogs started from the
// program's templates with a test dialog object, an operator who clicks, selects and
// answers message boxes, and the class layer to read back what the window system did.
//
// The cases are written once against this interface. The model runs them in virtual time
// through the headless backend; on Windows the real window system runs them in real time,
// and whatever it does is by definition right.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/fw.h"

namespace conformance {

class TestDialog;

class Driver {
public:
    Driver() = default;
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;
    virtual ~Driver() = default;

    // Runs the dialog modally and returns its DoModal result.
    virtual fw::INT_PTR Run(TestDialog& dialog);
    // Called by a test dialog from its WM_INITDIALOG, before the case's own initialisation.
    virtual void Shown(TestDialog& dialog) { (void)dialog; }

    // The operator's next action: step runs on the user-interface thread once dialogId is
    // the top modal dialog and its loop has nothing queued. Steps run in the order given.
    virtual void Then(int dialogId, std::function<void()> step) = 0;
    // A mouse click on a push button of the top modal dialog.
    virtual void Click(int controlId) = 0;
    // A mouse click on item index of a list box of the top modal dialog.
    virtual void SelectItem(int listId, int index) = 0;
    // A key pressed and released on the keyboard, with Shift or Alt held when asked. The key
    // goes where the system sends keys: to the focused control, through the dialog manager.
    enum Modifier { kNoModifier, kShift, kAlt };
    virtual void PressKey(int virtualKey, Modifier modifier = kNoModifier) = 0;
    // Focuses a control of the top modal dialog, as SetFocus does.
    virtual void Focus(int controlId) = 0;
    // The identifier of the control with the focus; 0 when nothing has it.
    virtual int FocusedControl() = 0;
    // How the operator answers every message box of the user-interface thread: answer is
    // called while the box is up, with its text, and returns the button to press.
    virtual void AnswerBoxes(std::function<int(const std::string& text)> answer) = 0;

    // What went wrong in the operator's script: a dialog left with nothing to do (it is
    // ended with IDABORT), a step that never ran, a box nobody answered.
    virtual std::vector<std::string> Problems() = 0;
};

// The model through the headless backend, in virtual time.
std::unique_ptr<Driver> MakeModelDriver();
#ifdef _WIN32
// The real Win32 window system with the executable's dialog resources, in real time.
std::unique_ptr<Driver> MakeWin32Driver();
#endif

// A dialog that records what reaches it and leaves ending to the case: OK and Cancel
// commands are recorded like any other, never end it.
class TestDialog : public fw::CDialog {
public:
    TestDialog(Driver& driver, fw::UINT templateId, fw::CWnd* owner = nullptr)
        : fw::CDialog(templateId, owner), m_driver(driver) {}

    struct Command {
        int id;
        fw::UINT code;
        fw::LPARAM control;
    };
    // WM_COMMAND messages, in arrival order.
    std::vector<Command> commands;
    // Messages from WM_APP up, in arrival order.
    std::vector<fw::UINT> appMessages;
    // The timer identifier of every WM_TIMER, in arrival order.
    std::vector<fw::UINT_PTR> timerIds;

    // Runs at the end of WM_INITDIALOG.
    std::function<void(TestDialog&)> onInit;
    // Runs on every WM_TIMER, after it is recorded.
    std::function<void(TestDialog&)> onTimer;

    // How many WM_COMMAND messages came from control id with this notification code.
    int CommandsFrom(int id, fw::UINT code) const;
    fw::HWND Item(int id) const { return fw::Windows().GetDlgItem(GetSafeHwnd(), id); }

protected:
    fw::BOOL OnInitDialog() override;
    fw::LRESULT WindowProc(fw::UINT message, fw::WPARAM wParam, fw::LPARAM lParam) override;
    void OnOK() override {}
    void OnCancel() override {}

private:
    Driver& m_driver;
};

constexpr fw::UINT kAppMessage = 0x8000; // WM_APP

} // namespace conformance

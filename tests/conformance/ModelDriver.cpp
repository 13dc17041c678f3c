// The model's driver: a headless session, whose script runs the operator's steps whenever
// the top modal loop is idle and whose answer policy answers the message boxes.
#include "framework/Templates.h"
#include "framework/headless/Headless.h"
#include "framework/model/Input.h"
#include "res/Templates.h"
#include "tests/conformance/Driver.h"

namespace conformance {

namespace {

class ModelDriver final : public Driver {
public:
    // The model builds the program's dialogs from its templates, as the program installs them.
    ModelDriver() { fw::InstallDialogTemplates(res::AllDialogTemplates()); }

    void Then(int dialogId, std::function<void()> step) override {
        m_session.windows.Then(dialogId,
                               [step = std::move(step)](fw::headless::Headless&) { step(); });
    }
    void Click(int controlId) override { m_session.windows.Click(controlId); }
    void SelectItem(int listId, int index) override { m_session.windows.SelectItem(listId, index); }
    void PressKey(int virtualKey, Modifier modifier) override {
        fw::model::ModelWindowSystem& ui = m_session.windows;
        const int held = modifier == kShift ? VK_SHIFT : modifier == kAlt ? VK_MENU : 0;
        if (held != 0) {
            ui.SetKeyState(held, true);
        }
        fw::HWND focus = ui.GetFocus();
        if (focus == nullptr) {
            focus = ui.TopModal()->handle;
        }
        const auto key = static_cast<fw::WPARAM>(virtualKey);
        ui.PostMessage(focus, modifier == kAlt ? WM_SYSKEYDOWN : WM_KEYDOWN, key, 0);
        ui.PostMessage(focus, modifier == kAlt ? WM_SYSKEYUP : WM_KEYUP, key, 0);
        // Let go only once the key has been taken, as the keyboard's state is read then.
        if (held != 0) {
            ui.RunOnUserInterfaceThread([&ui, held] { ui.SetKeyState(held, false); });
        }
    }
    void Focus(int controlId) override {
        fw::model::ModelWindowSystem& ui = m_session.windows;
        ui.SetFocus(ui.GetDlgItem(ui.TopModal()->handle, controlId));
    }
    int FocusedControl() override {
        const fw::model::Window* focus = m_session.windows.Find(m_session.windows.GetFocus());
        return focus != nullptr ? focus->Id() : 0;
    }
    void AnswerBoxes(std::function<int(const std::string& text)> answer) override {
        m_session.windows.AnswerBy(
            [answer = std::move(answer)](const fw::headless::MessageBoxRecord& box) {
                return std::optional<int>(answer(box.text));
            });
    }
    std::vector<std::string> Problems() override { return m_session.windows.Problems(); }

private:
    fw::headless::HeadlessSession m_session;
};

} // namespace

std::unique_ptr<Driver> MakeModelDriver() { return std::make_unique<ModelDriver>(); }

} // namespace conformance

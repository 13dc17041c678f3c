// The model's driver: a headless session, whose script runs the operator's steps whenever
// the top modal loop is idle and whose answer policy answers the message boxes.
#include "framework/Templates.h"
#include "framework/headless/Headless.h"
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

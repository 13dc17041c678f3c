#include "framework/headless/Headless.h"

#include <cstdio>

namespace fw::headless {

Headless::Headless(Kernel& kernel)
    : ModelWindowSystem(kernel), m_userInterfaceThread(std::this_thread::get_id()) {}

void Headless::Then(int dialogId, Step step) {
    std::lock_guard lock(m_mutex);
    m_steps.push_back(Scripted{dialogId, std::move(step)});
}

void Headless::Answer(std::string textPart, int answer) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(Answered{std::move(textPart), answer});
}

void Headless::AnswerBy(std::function<std::optional<int>(const MessageBoxRecord&)> policy) {
    std::lock_guard lock(m_mutex);
    m_policy = std::move(policy);
}

void Headless::OnMessageBox(std::function<void(const MessageBoxRecord&)> observer) {
    std::lock_guard lock(m_mutex);
    m_observer = std::move(observer);
}

int Headless::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    MessageBoxRecord record;
    if (model::Window* window = Find(owner); window != nullptr && window->IsDialog()) {
        record.ownerDialogId = window->Id();
    }
    record.text = text != nullptr ? text : "";
    record.caption = caption != nullptr ? caption : "";
    record.type = type;
    record.workerThread = std::this_thread::get_id() != m_userInterfaceThread;
    record.time = m_kernel.TickCount();

    // While the box is up its owner takes no input, as under the system's own boxes.
    const bool disabledOwner =
        !record.workerThread && Find(owner) != nullptr && IsWindowEnabled(owner);
    if (disabledOwner) {
        EnableWindow(owner, FALSE);
    }
    record.answer = AnswerOf(record);
    if (disabledOwner && Find(owner) != nullptr) {
        EnableWindow(owner, TRUE);
    }
    return record.answer;
}

int Headless::AnswerOf(MessageBoxRecord& record) {
    std::function<void(const MessageBoxRecord&)> observer;
    {
        std::lock_guard lock(m_mutex);
        observer = m_observer;
    }
    if (observer) {
        observer(record);
    }
    if (record.workerThread) {
        m_kernel.Sleep(kWorkerBoxReadingMs);
    }

    std::lock_guard lock(m_mutex);
    bool answered = false;
    for (auto it = m_answers.begin(); it != m_answers.end(); ++it) {
        if (record.text.find(it->textPart) != std::string::npos) {
            record.answer = it->answer;
            m_answers.erase(it);
            answered = true;
            break;
        }
    }
    if (!answered && m_policy) {
        if (const std::optional<int> answer = m_policy(record)) {
            record.answer = *answer;
            answered = true;
        }
    }
    if (!answered) {
        if ((record.type & MB_TYPEMASK) == MB_OK) {
            record.answer = IDOK;
        } else {
            record.answer = IDNO;
            m_problems.push_back("unanswered message box: " + record.text);
        }
    }
    if (m_echo) {
        std::printf("[%s] %s\n  -> %s\n", record.caption.c_str(), record.text.c_str(),
                    record.answer == IDYES  ? "Yes"
                    : record.answer == IDNO ? "No"
                                            : "OK");
    }
    m_boxes.push_back(record);
    return record.answer;
}

void Headless::OnOperation(const model::Operation& operation) {
    std::lock_guard lock(m_mutex);
    if (m_echo && (operation.what == "LB_INSERTSTRING" || operation.what == "CreateDialog" ||
                   (operation.what == "SetWindowText" && !operation.text.empty()))) {
        std::printf("%s %d/%d %s\n", operation.what.c_str(), operation.dialogId,
                    operation.controlId, operation.text.c_str());
    }
    m_operations.push_back(operation);
}

bool Headless::OnIdle(model::Window& dialog) {
    Step step;
    {
        std::lock_guard lock(m_mutex);
        if (!m_steps.empty() && m_steps.front().dialogId == dialog.Id()) {
            step = std::move(m_steps.front().step);
            m_steps.erase(m_steps.begin());
        }
    }
    if (step) {
        step(*this);
        return true;
    }
    if (!dialog.timers.empty()) {
        return false; // the dialog has work of its own to wait for
    }
    {
        std::lock_guard lock(m_mutex);
        m_problems.push_back("dialog " + std::to_string(dialog.Id()) +
                             " was left with nothing to do");
    }
    EndDialog(dialog.handle, IDABORT);
    return true;
}

std::vector<model::Operation> Headless::Operations() {
    std::lock_guard lock(m_mutex);
    return m_operations;
}

std::vector<MessageBoxRecord> Headless::MessageBoxes() {
    std::lock_guard lock(m_mutex);
    return m_boxes;
}

std::vector<std::string> Headless::ListBoxItems(int dialogId, int controlId) {
    std::vector<std::string> items;
    for (const auto& op : Operations()) {
        if (op.dialogId != dialogId || op.controlId != controlId)
            continue;
        if (op.what == "LB_RESETCONTENT")
            items.clear();
        if (op.what == "LB_INSERTSTRING") {
            items.insert(items.begin() + static_cast<std::ptrdiff_t>(op.value), op.text);
        }
    }
    return items;
}

std::vector<std::string> Headless::Problems() {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> problems = m_problems;
    for (const auto& step : m_steps) {
        problems.push_back("step for dialog " + std::to_string(step.dialogId) + " never ran");
    }
    for (const auto& answer : m_answers) {
        problems.push_back("answer never used: " + answer.textPart);
    }
    return problems;
}

model::Window* Headless::Dialog(int dialogId) const {
    for (model::Window* window : ModalStack()) {
        if (window->Id() == dialogId) {
            return window;
        }
    }
    return nullptr;
}

model::Window* Headless::Control(int dialogId, int controlId) const {
    model::Window* dialog = Dialog(dialogId);
    return dialog != nullptr ? dialog->Child(controlId) : nullptr;
}

void Headless::SetIconic(int dialogId, bool iconic, RECT client) {
    if (model::Window* dialog = Dialog(dialogId)) {
        dialog->iconic = iconic;
        dialog->client = client;
    }
}

HeadlessSession::HeadlessSession() : windows(kernel) { InstallPlatform(&windows, &kernel); }

HeadlessSession::~HeadlessSession() {
    // A worker may still be showing its last message box: let it end before the window
    // system goes away.
    kernel.JoinThreads();
    InstallPlatform(nullptr, nullptr);
}

} // namespace fw::headless

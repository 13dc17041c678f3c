// The headless backend: the model window system driven by a script instead of a person,
// in virtual time. Tests install one per case (HeadlessSession), tell it what the operator
// does in each dialog and how to answer message boxes, run the program, and then read back
// every window operation and every message box it recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/kernel/VirtualKernel.h"
#include "framework/model/ModelWindows.h"

namespace fw::headless {

struct MessageBoxRecord {
    int ownerDialogId = 0; // template id of the owner dialog; 0 when the box has no owner
    std::string text;
    std::string caption;
    UINT type = 0;
    int answer = 0;
    bool workerThread = false; // shown from a thread other than the user-interface thread
    std::uint64_t time = 0;    // kernel milliseconds when it was shown
};

class Headless final : public model::ModelWindowSystem {
public:
    explicit Headless(Kernel& kernel);

    // What the operator does next: when dialogId is the top modal dialog and has nothing
    // else to do, step runs (on the user-interface thread). Steps run in the order given.
    using Step = std::function<void(Headless&)>;
    void Then(int dialogId, Step step);
    // Answers the next message box whose text contains textPart. A box with only an OK
    // button that matches no answer is answered OK; any other unmatched box is a problem
    // and gets IDNO, so a forgotten answer can never say Yes to a firmware download.
    // A box shown on a worker thread is answered after kWorkerBoxReadingMs of virtual
    // time, as an operator needs a moment to read it: answered at once, a worker could
    // race ahead of the user-interface thread in a way no person could make it.
    void Answer(std::string textPart, int answer);
    // Answers every box that no Answer() matches: policy returns the button pressed, or
    // nothing for the rule above.
    void AnswerBy(std::function<std::optional<int>(const MessageBoxRecord&)> policy);
    // Calls observer for every message box as it is shown (before it is answered), on the
    // thread that shows it.
    void OnMessageBox(std::function<void(const MessageBoxRecord&)> observer);
    // Prints every message box and dialog change to standard output (the demo).
    void Echo(bool echo) { m_echo = echo; }

    int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;
    static constexpr DWORD kWorkerBoxReadingMs = 1000;

    std::vector<model::Operation> Operations();
    std::vector<MessageBoxRecord> MessageBoxes();
    // A list box's items as the recorded operations left them: what it held when its
    // dialog closed, or holds now while it is open.
    std::vector<std::string> ListBoxItems(int dialogId, int controlId);
    // Script mistakes: unanswered questions, a dialog left with nothing to do (ended with
    // IDABORT), steps or answers never used.
    std::vector<std::string> Problems();

    // Test access to the model, on the user-interface thread.
    model::Window* Dialog(int dialogId) const;
    model::Window* Control(int dialogId, int controlId) const;
    void SetIconic(int dialogId, bool iconic, RECT client);

protected:
    void OnOperation(const model::Operation& operation) override;
    bool OnIdle(model::Window& dialog) override;

private:
    // Shows the box to the observer and finds its answer.
    int AnswerOf(MessageBoxRecord& record);
    struct Scripted {
        int dialogId;
        Step step;
    };
    struct Answered {
        std::string textPart;
        int answer;
    };
    std::mutex m_mutex;
    std::vector<Scripted> m_steps;
    std::vector<Answered> m_answers;
    std::vector<model::Operation> m_operations;
    std::vector<MessageBoxRecord> m_boxes;
    std::vector<std::string> m_problems;
    std::function<void(const MessageBoxRecord&)> m_observer;
    std::function<std::optional<int>(const MessageBoxRecord&)> m_policy;
    bool m_echo = false;
    std::thread::id m_userInterfaceThread;
};

// One headless program run: a virtual kernel and a headless window system, installed as the
// platform for as long as the session lives.
class HeadlessSession {
public:
    HeadlessSession();
    ~HeadlessSession();
    HeadlessSession(const HeadlessSession&) = delete;
    HeadlessSession& operator=(const HeadlessSession&) = delete;

    VirtualKernel kernel;
    Headless windows;
};

} // namespace fw::headless

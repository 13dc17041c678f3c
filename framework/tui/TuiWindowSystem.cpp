#include "framework/tui/TuiWindowSystem.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "framework/tui/Curses.h"

namespace fw::tui {
namespace {

constexpr int kExitInterrupted = 130;
constexpr int kExitHangUp = 129;
constexpr int kExitNoTerminal = 2;
constexpr int kFinishPollMs = 250;

} // namespace

TuiWindowSystem::TuiWindowSystem(WorkerKernel& kernel)
    : ModelWindowSystem(kernel), m_workers(kernel),
      m_userInterfaceThread(std::this_thread::get_id()), m_input(*this, m_scene),
      m_painter(*this, kernel, m_scene) {}

TuiWindowSystem::~TuiWindowSystem() = default;

INT_PTR TuiWindowSystem::RunModalDialog(CDialog& dialog, int templateId, HWND owner) {
    if (!m_screen.Gone() && !m_screen.Start()) {
        std::fprintf(stderr, "fwupgrade: the terminal cannot show the program's windows\n");
        m_screen.Quit(kExitNoTerminal);
    }
    m_dirty = true;
    const INT_PTR result = ModelWindowSystem::RunModalDialog(dialog, templateId, owner);
    m_dirty = true;
    return result;
}

LRESULT TuiWindowSystem::SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = ModelWindowSystem::SendMessage(window, message, wParam, lParam);
    // A key a control takes changes what it shows (a scrolled edit, a list's selection)
    // without an operation to tell of it.
    if (message >= WM_KEYDOWN && message <= WM_SYSCHAR) {
        m_dirty = true;
    }
    // A dialog whose timer handler takes a whole period never lets its loop go idle: look
    // at the keyboard between the ticks.
    if (message == WM_TIMER) {
        ScheduleService();
    }
    return result;
}

void TuiWindowSystem::OnOperation(const model::Operation&) {
    m_dirty = true;
    if (OnUserInterfaceThread()) {
        ScheduleService();
    } else {
        Wake();
    }
}

void TuiWindowSystem::ScheduleService() {
    if (!m_servicePosted.exchange(true)) {
        RunOnUserInterfaceThread([this] {
            m_servicePosted = false;
            if (model::Window* top = TopModal()) {
                m_shown.insert(top->handle);
            }
            Service();
        });
    }
}

bool TuiWindowSystem::OnIdle(model::Window& dialog) {
    m_shown.insert(dialog.handle);
    return Service();
}

void TuiWindowSystem::WaitForActivity(std::optional<std::uint64_t> deadline) {
    int timeout = -1;
    if (deadline) {
        const std::uint64_t now = m_kernel.TickCount();
        timeout = *deadline > now ? static_cast<int>(*deadline - now) : 0;
    }
    m_screen.Wait(timeout);
}

void TuiWindowSystem::Wake() { m_screen.Wake(); }

void TuiWindowSystem::WorkersChanged(int live) {
    signals::ProtectDownload(live > 0);
    Wake();
}

bool TuiWindowSystem::Service() {
    TakeSignals();
    AdoptWorkerBoxes();
    const bool handled = m_screen.Usable() && Input::ReadKeys([this](int key, bool alt) {
                             return HandleKey(key, alt) && m_screen.Usable();
                         });
    if (m_screen.Gone()) {
        AnswerAllSafely();
        if (m_workers.LiveWorkers() == 0 && !m_finishing) {
            m_screen.Quit(kExitHangUp);
        }
    }
    if (m_dirty) {
        Redraw();
    }
    return handled;
}

void TuiWindowSystem::TakeSignals() {
    const signals::Pending pending = m_screen.TakeSignals();
    if (pending.resize) {
        m_dirty = true;
    }
    if (pending.hangup) {
        m_screen.MarkGone();
    }
    if (pending.interrupt && m_workers.LiveWorkers() == 0) {
        m_screen.Quit(kExitInterrupted);
    }
}

void TuiWindowSystem::AdoptWorkerBoxes() {
    std::vector<std::shared_ptr<Box>> incoming;
    {
        std::lock_guard lock(m_incomingMutex);
        incoming.swap(m_incoming);
    }
    for (auto& box : incoming) {
        m_scene.boxes.push_back(std::move(box));
        m_dirty = true;
    }
}

void TuiWindowSystem::Answer(const std::shared_ptr<Box>& box, int answer) {
    {
        std::lock_guard lock(box->mutex);
        box->answered = true;
        box->answer = answer;
    }
    box->done.notify_all();
    auto& boxes = m_scene.boxes;
    boxes.erase(std::remove(boxes.begin(), boxes.end(), box), boxes.end());
    m_dirty = true;
}

void TuiWindowSystem::AnswerAllSafely() {
    AdoptWorkerBoxes();
    const auto boxes = m_scene.boxes;
    for (const auto& box : boxes) {
        Answer(box, SafeAnswer(box->type));
    }
}

int TuiWindowSystem::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    (void)owner; // boxes are centred on the screen, above everything
    auto box = std::make_shared<Box>();
    box->text = text != nullptr ? text : "";
    box->caption = caption != nullptr ? caption : "";
    box->type = type;
    if (!OnUserInterfaceThread()) {
        if (m_screen.Gone()) {
            return SafeAnswer(type);
        }
        box->worker = true;
        {
            std::lock_guard lock(m_incomingMutex);
            m_incoming.push_back(box);
        }
        ScheduleService();
        Wake();
        std::unique_lock lock(box->mutex);
        box->done.wait(lock, [&box] { return box->answered; });
        return box->answer;
    }

    if (!m_screen.Gone() && !m_screen.Start()) {
        std::fprintf(stderr, "fwupgrade: %s\n", box->text.c_str());
        return SafeAnswer(type);
    }
    if (m_screen.Gone()) {
        return SafeAnswer(type);
    }
    m_scene.boxes.push_back(box);
    m_dirty = true;
    // The box's own loop: the dialogs under it wait, worker boxes may still come on top.
    while (!box->answered) {
        Service();
        if (box->answered) {
            break;
        }
        m_screen.Wait(-1);
    }
    m_dirty = true;
    return box->answer;
}

void TuiWindowSystem::FinishWorkers() {
    m_finishing = true;
    while (m_workers.LiveWorkers() > 0) {
        Service();
        if (m_workers.LiveWorkers() == 0) {
            break;
        }
        m_screen.Wait(kFinishPollMs);
    }
    m_finishing = false;
}

bool TuiWindowSystem::HandleKey(int key, bool alt) {
    m_dirty = true;
    if (key == KEY_RESIZE) {
        return true;
    }
    if (key == Input::kCtrlC || key == Input::kCtrlBackslash) {
        // Ignored while a download runs: the drive must not be left half written.
        if (m_workers.LiveWorkers() == 0) {
            m_screen.Quit(kExitInterrupted);
        }
        return true;
    }
    if (key == KEY_MOUSE) {
        const Box* top = m_scene.boxes.empty() ? nullptr : m_scene.boxes.back().get();
        if (const auto answer = m_input.Mouse(top)) {
            Answer(m_scene.boxes.back(), *answer);
        }
        return true;
    }
    if (!m_scene.boxes.empty()) {
        const std::shared_ptr<Box> box = m_scene.boxes.back();
        if (const auto answer = m_input.BoxKey(*box, key)) {
            Answer(box, *answer);
        }
        return true;
    }
    if (model::Window* dialog = TopModal(); dialog != nullptr && m_shown.contains(dialog->handle)) {
        // A key posted to the model is taken by its modal loop before the next is read.
        return !m_input.DialogKey(*dialog, key, alt);
    }
    return true;
}

void TuiWindowSystem::Redraw() {
    if (!m_screen.Usable()) {
        return;
    }
    m_dirty = false;
    if (m_painter.Paint(m_shown)) {
        m_dirty = true;
    }
}

} // namespace fw::tui

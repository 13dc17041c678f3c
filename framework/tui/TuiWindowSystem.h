// The terminal backend: the model window system drawn with curses and driven by the keys
// (and mouse) of the person at the terminal, in real time.
//
// All drawing and all curses calls happen on the user-interface thread. Message boxes of
// worker threads are handed to that thread and shown on top while its modal loop goes on;
// the worker waits for the answer. When the terminal goes away, boxes answer themselves
// with their safe answer (never Yes) and the program ends as soon as no worker is left.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "framework/model/ModelWindows.h"
#include "framework/tui/Input.h"
#include "framework/tui/Painter.h"
#include "framework/tui/Scene.h"
#include "framework/tui/Screen.h"
#include "framework/tui/WorkerKernel.h"

namespace fw::tui {

class TuiWindowSystem final : public model::ModelWindowSystem {
public:
    // Construct on the thread that will run the dialogs. Curses starts with the first
    // window, so that start-up failures can still be printed to a normal terminal.
    explicit TuiWindowSystem(WorkerKernel& kernel);
    ~TuiWindowSystem() override;

    INT_PTR RunModalDialog(CDialog& dialog, int templateId, HWND owner) override;
    LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
    int MessageBox(HWND owner, const char* text, const char* caption, UINT type) override;

    // Restores the terminal; safe to call more than once.
    void EndScreen() { m_screen.End(); }
    // Keeps showing and answering worker message boxes until no worker is left (the
    // program's windows are all gone by then).
    void FinishWorkers();
    // Worker boxes need this thread to be drawn and answered: finish them here.
    void WaitForWorkers(HANDLE) override { FinishWorkers(); }
    // Called by the kernel as workers start and end, on the thread concerned.
    void WorkersChanged(int live);

protected:
    void Wake() override;
    void OnOperation(const model::Operation& operation) override;
    bool OnIdle(model::Window& dialog) override;
    void WaitForActivity(std::optional<std::uint64_t> deadline) override;

private:
    bool OnUserInterfaceThread() const {
        return std::this_thread::get_id() == m_userInterfaceThread;
    }
    void ScheduleService();
    // Acts on signals, worker boxes and keys, then redraws when something changed.
    // Returns true when a key was handled.
    bool Service();
    void TakeSignals();
    void AdoptWorkerBoxes();
    // Returns false when the key went to the model, whose loop must take it before the
    // next key is read.
    bool HandleKey(int key, bool alt);
    void AnswerAllSafely();
    void Answer(const std::shared_ptr<Box>& box, int answer);
    void Redraw();

    WorkerKernel& m_workers;
    std::thread::id m_userInterfaceThread;
    Screen m_screen;
    bool m_finishing = false;
    std::atomic<bool> m_dirty{true};
    std::atomic<bool> m_servicePosted{false};

    // User-interface thread only.
    Scene m_scene;
    std::set<HWND> m_shown; // dialogs whose modal loop has started
    Input m_input;
    Painter m_painter;

    std::mutex m_incomingMutex;
    std::vector<std::shared_ptr<Box>> m_incoming; // worker boxes not yet shown
};

} // namespace fw::tui

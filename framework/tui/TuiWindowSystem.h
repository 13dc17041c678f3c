// The terminal backend: the model window system drawn with curses and driven by the keys
// (and mouse) of the person at the terminal, in real time.
//
// All drawing and all curses calls happen on the user-interface thread. Message boxes of
// worker threads are handed to that thread and shown on top while its modal loop goes on;
// the worker waits for the answer. When the terminal goes away, boxes answer themselves
// with their safe answer (never Yes) and the program ends as soon as no worker is left.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/model/ModelWindows.h"
#include "framework/tui/Layout.h"
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
    void EndScreen();
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
    struct Box;
    struct Hit;
    struct Placed {
        model::Window* dialog;
        CellRect frame;
    };

    bool StartScreen();
    bool OnUserInterfaceThread() const { return std::this_thread::get_id() == m_userInterfaceThread; }
    void ScheduleService();
    // Acts on signals, worker boxes and keys, then redraws when something changed.
    // Returns true when a key was handled.
    bool Service();
    void TakeSignals();
    void AdoptWorkerBoxes();
    bool ReadKeys();
    void WaitForInput(int timeoutMs);
    void TerminalGone();
    void AnswerAllSafely();
    void Answer(const std::shared_ptr<Box>& box, int answer);
    [[noreturn]] void Quit(int code);

    void HandleKey(int key, bool alt);
    void HandleBoxKey(Box& box, int key);
    void HandleDialogKey(model::Window& dialog, int key, bool alt);
    void HandleMouse();
    bool PressMnemonic(model::Window& dialog, int key);
    void MoveFocus(model::Window& dialog, int step);
    model::Window* Focus(model::Window& dialog);
    void MoveSelection(model::Window& list, int step);
    void ScrollEdit(model::Window& edit, int step);

    void Redraw();
    std::vector<Placed> PlaceDialogs() const;
    void DrawDialog(const Placed& placed, bool active);
    void DrawControl(model::Window& control, const CellRect& client, bool active);
    void DrawListBox(model::Window& list, const CellRect& rect, bool focused, bool active);
    void DrawEdit(model::Window& edit, const CellRect& rect);
    void DrawButton(model::Window& button, const CellRect& client, const CellRect& rect,
                    bool focused, bool active);
    void DrawStatic(model::Window& text, const CellRect& client, const CellRect& rect);
    void DrawAnimation(model::Window& animation, const CellRect& rect);
    void DrawBox(Box& box, bool active);

    WorkerKernel& m_workers;
    std::thread::id m_userInterfaceThread;
    int m_wakePipe[2] = {-1, -1};
    bool m_screen = false;
    std::atomic<bool> m_gone{false};
    bool m_finishing = false;
    std::atomic<bool> m_dirty{true};
    std::atomic<bool> m_servicePosted{false};

    // User-interface thread only.
    std::vector<std::shared_ptr<Box>> m_boxes; // on top of the dialogs, oldest first
    std::set<HWND> m_shown;                    // dialogs whose modal loop has started
    std::map<HWND, HWND> m_focus;              // dialog -> focused control
    std::map<HWND, int> m_top;                 // list box or edit -> first visible line
    std::map<HWND, int> m_listSeen;            // list box -> selection when last drawn
    std::map<HWND, std::size_t> m_editSeen;    // edit -> hash of its text when last drawn
    std::vector<Hit> m_hits;                   // mouse targets of the active window

    std::mutex m_incomingMutex;
    std::vector<std::shared_ptr<Box>> m_incoming; // worker boxes not yet shown
};

} // namespace fw::tui

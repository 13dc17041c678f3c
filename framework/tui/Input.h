// The keyboard and the mouse: what the person at the terminal types or clicks, turned into
// the model's actions (Click, SelectItem, PressEnter, PressEscape, PressCloseBox), into
// answers of message boxes, or into focus and scrolling of the scene. The terminal's own
// focus order (Tab, arrows, button letters) lives here too. User-interface thread only.
#pragma once

#include <functional>
#include <optional>

#include "framework/model/ModelWindows.h"
#include "framework/tui/Scene.h"

namespace fw::tui {

class Input {
public:
    Input(model::ModelWindowSystem& windows, Scene& scene) : m_windows(windows), m_scene(scene) {}
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Key codes beyond curses' own.
    static constexpr int kEscape = 27;
    static constexpr int kCtrlC = 3;
    static constexpr int kCtrlBackslash = 28;

    // Reads the keys waiting at the terminal one at a time and hands each to handle, until
    // none is left or handle returns false. Alt+letter arrives as the letter with alt set;
    // escape sequences curses does not know are dropped, never taken for Esc. Returns true
    // when a key was read. Keys stay queued in curses while handle runs, so a modal loop
    // that handle starts reads the ones that follow.
    static bool ReadKeys(const std::function<bool(int key, bool alt)>& handle);

    // A key for the message box on top: moves its focus, or returns the id of the button
    // that answers it.
    std::optional<int> BoxKey(Box& box, int key) const;
    // A key for the top modal dialog.
    void DialogKey(model::Window& dialog, int key);
    // The mouse event waiting in curses, against the targets of the last frame. Returns
    // the id of the button when it pressed one of top, the message box on top (if any).
    std::optional<int> Mouse(const Box* top);

private:
    bool PressMnemonic(model::Window& dialog, int key);
    void MoveFocus(model::Window& dialog, int step);
    model::Window* Focus(model::Window& dialog);
    void MoveSelection(model::Window& list, int step);
    void ScrollEdit(model::Window& edit, int step);

    model::ModelWindowSystem& m_windows;
    Scene& m_scene;
};

} // namespace fw::tui

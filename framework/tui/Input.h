// The keyboard and the mouse: what the person at the terminal types or clicks, turned into
// the model's key messages and clicks, into answers of message boxes, or into scrolling of
// the scene. The dialogs' focus, Tab order, mnemonics and default button are the model's
// dialog manager's; this side only maps. User-interface thread only.
#pragma once

#include <functional>
#include <optional>

#include "framework/model/ModelWindows.h"
#include "framework/tui/Scene.h"

namespace fw::tui {

// A key as the model takes it: a virtual key, pressed with Shift and/or Alt held.
struct Stroke {
    int virtualKey = 0;
    bool shift = false;
    bool alt = false;
    bool operator==(const Stroke&) const = default;
};

// Where keys come from: the next byte or curses key code (ERR when none is waiting), a way
// to give one back, and whether the terminal sends text as UTF-8.
struct KeySource {
    std::function<int()> read;
    std::function<void(int)> unread;
    bool utf8 = false;
};

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
    // none is left or handle returns false. Alt+letter arrives as the letter with alt set,
    // whether the terminal sends it as ESC and the letter or with the eighth bit (meta,
    // UTF-8 encoded in a UTF-8 terminal); escape sequences curses does not know are
    // dropped, never taken for Esc. Returns true when a key was read. Keys stay queued
    // while handle runs, so a modal loop that handle starts reads the ones that follow.
    static bool ReadKeys(const std::function<bool(int key, bool alt)>& handle);
    static bool ReadKeys(const KeySource& source,
                         const std::function<bool(int key, bool alt)>& handle);

    // The model's key for a curses key; nullopt for a key the dialogs have no use for.
    static std::optional<Stroke> StrokeFor(int key, bool alt);

    // A key for the message box on top (the terminal's own window): moves its focus, or
    // returns the id of the button that answers it.
    std::optional<int> BoxKey(Box& box, int key) const;
    // A key for the top modal dialog: posted to its focused control (to the dialog when
    // nothing has the focus) for the modal loop's dialog manager. Returns true when it
    // posted something; the terminal then lets the loop take it before reading on, so
    // that the next key goes where this one left the focus.
    bool DialogKey(model::Window& dialog, int key, bool alt);
    // The mouse event waiting in curses, against the targets of the last frame. Returns
    // the id of the button when it pressed one of top, the message box on top (if any).
    std::optional<int> Mouse(const Box* top);

private:
    void HoldKey(int virtualKey, bool down);

    model::ModelWindowSystem& m_windows;
    Scene& m_scene;
};

} // namespace fw::tui

// Painting: the model's dialogs as curses draws them, their controls, and the message boxes
// on top. Each frame is drawn whole; the mouse targets of the active window are left in
// the scene for the input to read. User-interface thread only, while curses runs.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <vector>

#include "framework/Platform.h"
#include "framework/model/ModelWindows.h"
#include "framework/tui/Fit.h"
#include "framework/tui/Scene.h"

namespace fw::tui {

class Painter {
public:
    Painter(const model::ModelWindowSystem& windows, Kernel& clock, Scene& scene)
        : m_windows(windows), m_clock(clock), m_scene(scene) {}
    Painter(const Painter&) = delete;
    Painter& operator=(const Painter&) = delete;

    // Draws the modal dialogs whose loops have started (shown), outermost first, and the
    // message boxes over them, or a note when the terminal is too small for them. Returns
    // true when something moves on its own and wants another frame soon.
    bool Paint(const std::set<HWND>& shown);

private:
    struct Placed {
        model::Window* dialog;
        CellRect frame;
        DialogCells cells; // the dialog fitted to the screen
    };
    // The shown dialogs fitted to the screen; those that do not fit are left out and the
    // screen they need is added to need.
    std::vector<Placed> PlaceDialogs(const std::set<HWND>& shown, ScreenSize& need) const;
    std::size_t PlacesWanted(const std::set<HWND>& shown) const;
    void DrawDialog(const Placed& placed, bool active);
    void DrawControl(const Placed& placed, std::size_t index, bool active);
    void DrawListBox(model::Window& list, const CellRect& rect, bool focused, bool active);
    void DrawEdit(model::Window& edit, const CellRect& rect);
    void DrawButton(model::Window& button, const CellRect& client, const CellRect& rect,
                    bool focused, bool active);
    void DrawStatic(model::Window& text, const CellRect& rect, int room);
    void DrawAnimation(model::Window& animation, const CellRect& rect);
    void DrawBox(Box& box, bool active);

    const model::ModelWindowSystem& m_windows;
    Kernel& m_clock;
    Scene& m_scene;
    bool m_moving = false;          // this frame holds an animation
    std::map<HWND, int> m_listSeen; // list box -> selection when last drawn
};

} // namespace fw::tui

// What the terminal shows beyond the model's windows, and the state the keyboard and the
// painter share about it: the message boxes on top, the first visible line of list boxes,
// and the mouse targets of the last frame. The dialogs' focus and the edits' first lines
// are the model's. Lives on
// the user-interface thread, except a box's answer, which its waiting worker reads.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/fwtypes.h"
#include "framework/tui/Layout.h"

namespace fw::tui {

// A message box on the screen. A worker's box is answered on the user-interface thread
// while the worker waits on done.
struct Box {
    std::string text;
    std::string caption;
    UINT type = MB_OK;
    bool worker = false;
    int focus = 0; // index of the focused button
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    int answer = 0;
};

// A place the mouse can press, as the painter last drew it.
struct Hit {
    enum Kind { Button, ListItem, ScrollUp, ScrollDown, Control, BoxButton, CloseBox };
    CellRect rect;
    Kind kind;
    HWND control = nullptr;
    int index = 0; // ListItem: the item; BoxButton: the button, left to right
};

struct Scene {
    std::vector<std::shared_ptr<Box>> boxes; // on top of the dialogs, oldest first
    std::map<HWND, int> top;                 // list box -> first visible line
    std::vector<Hit> hits;                   // of the active window, in drawing order
};

} // namespace fw::tui

// The dialog templates: the one description of every window's layout. The Windows
// resource script is generated from it and the model-based backends (headless, terminal)
// build their windows from it, so no position, text or style is written down twice.
#pragma once

#include <cstdint>
#include <span>

namespace res {

enum class ControlKind {
    ListBox,
    GroupBox,
    Static,     // static text
    Picture,    // static bitmap; bitmapId names the picture
    PushButton, // the default push button carries BS_DEFPUSHBUTTON in its style
    Edit,
    Progress,   // common controls' progress bar
    Animation,  // common controls' animation control
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy; // dialog units
    std::uint32_t style;   // beyond WS_CHILD | WS_VISIBLE, which every control has
    std::uint32_t exStyle;
    int bitmapId;          // Picture only, else 0
};

struct DialogTemplate {
    int id;
    const char* name; // resource name, e.g. "IDD_PROGRESS"
    bool extended;    // DIALOGEX rather than DIALOG
    const char* caption;
    int x, y, cx, cy;
    std::uint32_t style;
    std::uint32_t exStyle;
    const char* font;
    int pointSize;
    std::span<const ControlTemplate> controls; // in tab order
};

// Every dialog of the program.
std::span<const DialogTemplate> AllDialogTemplates();
// The template with this resource id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);

// The Win32 window class of a control kind, as the resource script names it.
const char* WindowClassName(ControlKind kind);

} // namespace res

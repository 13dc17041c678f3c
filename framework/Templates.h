// Dialog templates as the framework reads them: the program's resources, in the form the
// model-based window systems (headless, terminal) build their windows from. On Windows the
// same table is turned into the executable's resource script, which the system's dialog
// manager reads instead.
//
// The framework declares the table and never names its contents: the program installs its
// own before the first dialog runs.
#pragma once

#include <cstdint>
#include <span>

namespace fw {

enum class ControlKind {
    ListBox,
    GroupBox,
    Static,     // static text
    Picture,    // static bitmap; bitmapId names the picture
    PushButton, // the default push button carries BS_DEFPUSHBUTTON in its style
    Edit,
    Progress,  // common controls' progress bar
    Animation, // common controls' animation control
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;    // dialog units
    std::uint32_t style; // beyond WS_CHILD | WS_VISIBLE, which every control has
    std::uint32_t exStyle;
    int bitmapId; // Picture only, else 0
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

// Makes table the templates dialogs are created from; the table must outlive every dialog.
// Installing again replaces it (tests install their own).
void InstallDialogTemplates(std::span<const DialogTemplate> table);
// The installed template with this resource id, or nullptr.
const DialogTemplate* FindDialogTemplate(int id);
// The template of table with this resource id, or nullptr.
const DialogTemplate* FindDialogTemplate(std::span<const DialogTemplate> table, int id);

// The Win32 window class of a control kind, as a resource script names it.
const char* WindowClassName(ControlKind kind);

} // namespace fw

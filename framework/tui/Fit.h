// Windows fitted to the terminal: a dialog template's units turned into cells at the
// largest scale that fits the screen, as long as every text the dialog shows still shows
// whole. Free of curses, like Layout.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Templates.h"
#include "framework/tui/Layout.h"

namespace fw::tui {

// What a control shows now: its text and, for a list box, its items.
struct ControlContent {
    std::string_view text;
    std::span<const std::string> items;
};

// A dialog in cells: its client area (from 0, 0) and its controls in template order.
struct DialogCells {
    CellScale scale;
    CellRect client;
    std::vector<CellRect> controls;
    // With the frame around the client area.
    int FrameWidth() const { return client.width + 2; }
    int FrameHeight() const { return client.height + 2; }
};
DialogCells LayOutDialog(const DialogTemplate& dialog, CellScale scale);

// Where a push button with a label this wide ("[ label ]") is drawn: wider than its template
// when the label needs it, around the same centre, inside the client area.
CellRect ButtonCells(const CellRect& rect, const CellRect& client, int labelWidth);

// The columns a one-line static text (controls[index]) may take: its own, and on to the
// right up to the next control on its row, the group box around it or the client's edge
// (character cells are wider than the template's proportional font).
int StaticRoom(const DialogCells& cells, std::span<const ControlTemplate> controls,
               std::size_t index);

// A text that would not show whole.
struct CutText {
    std::size_t control; // index in the template; the controls' count for the caption
    std::string text;
};
// The first text of the dialog (caption, then controls in template order) that would be
// cut at these cells; none when all show whole. content has one entry per control.
std::optional<CutText> FirstCutText(const DialogTemplate& dialog, const DialogCells& cells,
                                    std::string_view caption,
                                    std::span<const ControlContent> content);

// The dialog at the largest scale at which it fits cols x rows with its frame and still
// shows every text whole (at full size, whatever its texts); none when the screen is too
// small for that.
std::optional<DialogCells> FitDialog(const DialogTemplate& dialog, std::string_view caption,
                                     std::span<const ControlContent> content, int cols, int rows);

// The smallest screen FitDialog accepts the dialog on: the fewest columns (with all the
// rows it wants), then the fewest rows at those columns.
struct ScreenSize {
    int cols = 0;
    int rows = 0;
};
ScreenSize SmallestScreen(const DialogTemplate& dialog, std::string_view caption,
                          std::span<const ControlContent> content);

// The contents as the template has them (no list items).
std::vector<ControlContent> TemplateContent(const DialogTemplate& dialog);

} // namespace fw::tui

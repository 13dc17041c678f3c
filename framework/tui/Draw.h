// Drawing on the curses screen, clipped to it: texts, blank areas, frames and scroll bars.
// User-interface thread only, while curses runs.
#pragma once

#include <string>
#include <string_view>

#include "framework/tui/Layout.h"

namespace fw::tui::draw {

// Attributes as curses has them (A_BOLD, A_REVERSE, ...), without curses in this header.
using Attr = unsigned long;

// At most maxCols characters of text (all when negative) from row, col on.
void Put(int row, int col, std::string_view text, Attr attr, int maxCols = -1);
// One character, which may be one of curses' line-drawing ones (ACS_*).
void PutChar(int row, int col, unsigned long ch);
void Fill(const CellRect& rect, Attr attr);
// A line frame around the edge of rect; nothing when it is narrower or lower than 2.
void Frame(const CellRect& rect, Attr attr);
// A scroll bar in one column: arrows at the ends, the thumb where top lies in the range.
void ScrollBar(int col, int row, int height, int top, int range);
// text cut or padded with blanks to width.
std::string Padded(const std::string& text, int width);

} // namespace fw::tui::draw

// Drawing on the curses screen, clipped to it: texts, blank areas, frames and scroll bars.
// User-interface thread only, while curses runs.
#pragma once

#include <string>
#include <string_view>

#include "framework/tui/Layout.h"
#include "framework/tui/Pictures.h"

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
// The terminal has colours enough for pictures (8 or more).
bool ShowsPictures();
// picture resized into rect: in a UTF-8 locale two pixels a cell (the upper half block with
// the upper pixel as foreground and the lower one as background), elsewhere one colour a
// cell. Colours are the nearest the terminal has (256 or 8).
void PutPicture(const CellRect& rect, const Picture& picture);
// text cut or padded with blanks to width.
std::string Padded(const std::string& text, int width);

} // namespace fw::tui::draw

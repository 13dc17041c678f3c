// The terminal backend's geometry and text rules, free of curses so they can be tested on
// their own: dialog units to character cells, the `&` letter of a label, word wrapping and
// the shape of a message box.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "framework/fwtypes.h"

namespace fw::tui {

struct CellRect {
    int col = 0;
    int row = 0;
    int width = 0;
    int height = 0;
    bool Contains(int c, int r) const {
        return c >= col && c < col + width && r >= row && r < row + height;
    }
};

// How many dialog units one character cell stands for, in sixteenths of a unit. Windows
// are drawn at 4 units a column and 8 a row where the terminal has the room; larger
// numbers draw them smaller.
struct CellScale {
    static constexpr int kSixteenths = 16;
    int column = 4 * kSixteenths;
    int row = 8 * kSixteenths;
    bool operator==(const CellScale&) const = default;
};

// Dialog units to character cells at scale. Both edges are rounded to the nearest cell
// (halves up), so controls that touch or nearly touch in the template keep their order;
// every rectangle is at least one cell in each direction.
CellRect ToCells(int x, int y, int cx, int cy, CellScale scale = {});

// A label with its `&` letter: the text without the marker, the position of the marked
// character in it (-1: none) and that character in lower case (0: none). "&&" is a plain
// ampersand.
struct Mnemonic {
    std::string label;
    int index = -1;
    char key = 0;
};
Mnemonic ParseMnemonic(std::string_view text);

// Tabs to spaces, at stops every tabWidth columns.
std::string ExpandTabs(std::string_view line, int tabWidth = 8);

// Splits text at CR LF, LF or CR, expands tabs and wraps every line at width columns: at
// the last blank that fits, or inside a word longer than the width. Lines that fit are kept
// exactly as they are, blanks included.
std::vector<std::string> WrapText(std::string_view text, int width);

// The buttons of a message box, left to right, for the MB_TYPEMASK part of type.
struct BoxButton {
    std::string label;
    int id = IDOK;
    char key = 0;  // the letter that answers with this button (lower case), 0: none
    int col = 0;   // from the box's left edge
    int width = 0; // label plus its brackets
};
std::vector<BoxButton> MessageBoxButtons(UINT type);

// The answer a box gives when nobody can answer it: No where there is a No, Cancel where
// there is a Cancel, else OK. Never Yes.
int SafeAnswer(UINT type);

// The mark that stands for the MB_ICON flag: "[!]", "[i]", "[X]", "[?]", or "" for none.
std::string IconMark(UINT type);

// A message box laid out for a screen maxWidth columns wide: frame with the caption on top,
// a blank row, the icon mark and the text, a blank row, the button row, the frame.
struct MessageBoxLayout {
    std::string caption;
    std::string icon;
    std::vector<std::string> lines;
    std::vector<BoxButton> buttons;
    int width = 0;
    int height = 0;
    int iconCol = 2;
    int textCol = 2;
    int textRow = 2;
    int buttonRow = 0;
};
MessageBoxLayout LayOutMessageBox(std::string_view text, std::string_view caption, UINT type,
                                  int maxWidth);

} // namespace fw::tui

// Pictures (framework/Pictures.h) in terminal cells: resized to the cells a control has and
// mapped to the colours the terminal has.
#pragma once

#include <cstdint>
#include <vector>

#include "framework/Pictures.h"

namespace fw::tui {

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const Rgb&) const = default;
};

// The picture resized to width x height pixels (top row first), each the mean of the
// pixels it covers.
std::vector<Rgb> Resize(const Picture& picture, int width, int height);

// The nearest colour of the xterm 256-colour palette (its 6x6x6 cube from 16 on and its
// greys from 232 on; never the first 16, which terminals change).
int Nearest256(Rgb colour);
// The nearest of the 8 basic terminal colours (curses' COLOR_BLACK .. COLOR_WHITE).
int Nearest8(Rgb colour);

} // namespace fw::tui

// The pictures of Picture controls, for terminals with colours. The program hands its
// pictures over by resource id (the framework knows none of its own); where a picture is
// missing, or the terminal has no colours, the control shows a placeholder.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace fw::tui {

// One picture: width x height pixels, 3 bytes each (red, green, blue), top row first.
struct Picture {
    int resourceId;
    int width;
    int height;
    const std::uint8_t* rgb;
};

// The program's pictures; call before the first window. The table and its pixels are not
// copied and must outlive the windows. A later call replaces an earlier one.
void InstallPictures(std::span<const Picture> pictures);
// The installed picture with this id, or nullptr.
const Picture* FindPicture(int resourceId);

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

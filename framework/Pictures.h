// The pictures of Picture controls as pixels, for window systems that draw them themselves
// (the terminal, where it has colours). The program hands its pictures over by resource id,
// as it does its dialog templates; the Win32 window system takes its bitmaps from the
// executable's resources instead. Where a picture is missing a control shows a placeholder.
#pragma once

#include <cstdint>
#include <span>

namespace fw {

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

} // namespace fw

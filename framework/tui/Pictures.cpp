#include "framework/tui/Pictures.h"

#include <algorithm>
#include <array>

namespace fw::tui {
namespace {

// The six levels of each primary in the 256-colour cube.
constexpr std::array<int, 6> kCubeLevels{0, 95, 135, 175, 215, 255};
constexpr int kCubeStart = 16;
constexpr int kGreyStart = 232;
constexpr int kGreys = 24;

// The basic colours in curses' order (black, red, green, yellow, blue, magenta, cyan,
// white) as xterm shows them.
constexpr std::array<Rgb, 8> kBasic{{{0, 0, 0},
                                     {205, 0, 0},
                                     {0, 205, 0},
                                     {205, 205, 0},
                                     {0, 0, 238},
                                     {205, 0, 205},
                                     {0, 205, 205},
                                     {229, 229, 229}}};

constexpr int kBlack = 0;
constexpr int kWhite = 7;
// Colours whose primaries lie closer together than this count as grey.
constexpr int kGreyishSpread = 48;
constexpr int kWhiteFrom = 100;

int Distance(Rgb a, Rgb b) {
    const int dr = a.r - b.r;
    const int dg = a.g - b.g;
    const int db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

int NearestLevel(int value) {
    int best = 0;
    for (int i = 1; i < static_cast<int>(kCubeLevels.size()); ++i) {
        if (std::abs(kCubeLevels[static_cast<std::size_t>(i)] - value) <
            std::abs(kCubeLevels[static_cast<std::size_t>(best)] - value)) {
            best = i;
        }
    }
    return best;
}

std::uint8_t Level(int index) {
    return static_cast<std::uint8_t>(kCubeLevels[static_cast<std::size_t>(index)]);
}

} // namespace

std::vector<Rgb> Resize(const Picture& picture, int width, int height) {
    std::vector<Rgb> out;
    out.reserve(static_cast<std::size_t>(std::max(0, width * height)));
    for (int y = 0; y < height; ++y) {
        const int top = y * picture.height / height;
        const int bottom = std::max(top + 1, (y + 1) * picture.height / height);
        for (int x = 0; x < width; ++x) {
            const int left = x * picture.width / width;
            const int right = std::max(left + 1, (x + 1) * picture.width / width);
            long sum[3] = {0, 0, 0};
            for (int sy = top; sy < bottom; ++sy) {
                const std::uint8_t* row =
                    picture.rgb + static_cast<std::size_t>(sy) * picture.width * 3;
                for (int sx = left; sx < right; ++sx) {
                    for (int c = 0; c < 3; ++c) {
                        sum[c] += row[static_cast<std::size_t>(sx) * 3 + c];
                    }
                }
            }
            const long count = static_cast<long>(bottom - top) * (right - left);
            out.push_back(Rgb{static_cast<std::uint8_t>((sum[0] + count / 2) / count),
                              static_cast<std::uint8_t>((sum[1] + count / 2) / count),
                              static_cast<std::uint8_t>((sum[2] + count / 2) / count)});
        }
    }
    return out;
}

int Nearest256(Rgb colour) {
    const int r = NearestLevel(colour.r);
    const int g = NearestLevel(colour.g);
    const int b = NearestLevel(colour.b);
    const Rgb cube{Level(r), Level(g), Level(b)};
    const int mean = (colour.r + colour.g + colour.b) / 3;
    const int grey = std::clamp((mean - 3) / 10, 0, kGreys - 1);
    const auto greyLevel = static_cast<std::uint8_t>(8 + 10 * grey);
    if (Distance(colour, Rgb{greyLevel, greyLevel, greyLevel}) < Distance(colour, cube)) {
        return kGreyStart + grey;
    }
    return kCubeStart + 36 * r + 6 * g + b;
}

int Nearest8(Rgb colour) {
    // Greys are black or white: by distance alone a mid grey would turn yellow.
    const int brightest = std::max({colour.r, colour.g, colour.b});
    const int darkest = std::min({colour.r, colour.g, colour.b});
    if (brightest - darkest < kGreyishSpread) {
        return (brightest + darkest) / 2 >= kWhiteFrom ? kWhite : kBlack;
    }
    int best = 0;
    for (int i = 1; i < static_cast<int>(kBasic.size()); ++i) {
        if (Distance(colour, kBasic[static_cast<std::size_t>(i)]) <
            Distance(colour, kBasic[static_cast<std::size_t>(best)])) {
            best = i;
        }
    }
    return best;
}

} // namespace fw::tui

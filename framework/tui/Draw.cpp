#include "framework/tui/Draw.h"

#include <algorithm>
#include <langinfo.h>
#include <map>
#include <string_view>
#include <utility>

#include "framework/tui/Curses.h"

namespace fw::tui::draw {
namespace {

constexpr wchar_t kUpperHalf[] = L"\u2580";
constexpr wchar_t kBlank[] = L" ";

// Colour pairs made so far, by foreground and background; pair 0 is the terminal's own.
std::map<std::pair<int, int>, int>& Pairs() {
    static std::map<std::pair<int, int>, int> pairs;
    return pairs;
}

// The pair for these colours; 0 (the terminal's colours) when the terminal has no more.
int PairFor(int foreground, int background) {
    auto& pairs = Pairs();
    const auto found = pairs.find({foreground, background});
    if (found != pairs.end()) {
        return found->second;
    }
    const int pair = static_cast<int>(pairs.size()) + 1;
    if (pair >= COLOR_PAIRS || init_pair(static_cast<short>(pair), static_cast<short>(foreground),
                                         static_cast<short>(background)) != OK) {
        return 0;
    }
    pairs.emplace(std::pair{foreground, background}, pair);
    return pair;
}

int TerminalColour(Rgb colour) { return COLORS >= 256 ? Nearest256(colour) : Nearest8(colour); }

void PutCell(int row, int col, const wchar_t* text, int pair) {
    if (row < 0 || row >= LINES || col < 0 || col >= COLS) {
        return;
    }
    cchar_t cell{};
    setcchar(&cell, text, A_NORMAL, static_cast<short>(pair), nullptr);
    mvwadd_wch(stdscr, row, col, &cell);
}

} // namespace

void Put(int row, int col, std::string_view text, Attr attr, int maxCols) {
    if (row < 0 || row >= LINES) {
        return;
    }
    int count = static_cast<int>(text.size());
    if (maxCols >= 0) {
        count = std::min(count, maxCols);
    }
    for (int i = 0; i < count; ++i) {
        const int c = col + i;
        if (c >= 0 && c < COLS) {
            mvwaddch(stdscr, row, c,
                     static_cast<chtype>(
                         static_cast<unsigned char>(text[static_cast<std::size_t>(i)]) | attr));
        }
    }
}

void PutChar(int row, int col, unsigned long ch) {
    if (row >= 0 && row < LINES && col >= 0 && col < COLS) {
        mvwaddch(stdscr, row, col, static_cast<chtype>(ch));
    }
}

void Fill(const CellRect& rect, Attr attr) {
    for (int r = rect.row; r < rect.row + rect.height; ++r) {
        for (int c = rect.col; c < rect.col + rect.width; ++c) {
            PutChar(r, c, ' ' | attr);
        }
    }
}

void Frame(const CellRect& rect, Attr attr) {
    if (rect.width < 2 || rect.height < 2) {
        return;
    }
    const int right = rect.col + rect.width - 1;
    const int bottom = rect.row + rect.height - 1;
    for (int c = rect.col + 1; c < right; ++c) {
        PutChar(rect.row, c, ACS_HLINE | attr);
        PutChar(bottom, c, ACS_HLINE | attr);
    }
    for (int r = rect.row + 1; r < bottom; ++r) {
        PutChar(r, rect.col, ACS_VLINE | attr);
        PutChar(r, right, ACS_VLINE | attr);
    }
    PutChar(rect.row, rect.col, ACS_ULCORNER | attr);
    PutChar(rect.row, right, ACS_URCORNER | attr);
    PutChar(bottom, rect.col, ACS_LLCORNER | attr);
    PutChar(bottom, right, ACS_LRCORNER | attr);
}

void ScrollBar(int col, int row, int height, int top, int range) {
    if (height < 2) {
        return;
    }
    PutChar(row, col, ACS_UARROW);
    PutChar(row + height - 1, col, ACS_DARROW);
    const int track = height - 2;
    for (int r = 0; r < track; ++r) {
        PutChar(row + 1 + r, col, ACS_CKBOARD);
    }
    if (track > 0 && range > 0) {
        const int thumb = std::min(track - 1, top * track / (range + 1));
        PutChar(row + 1 + thumb, col, ' ' | A_REVERSE);
    }
}

bool ShowsPictures() { return has_colors() && COLORS >= 8; }

void PutPicture(const CellRect& rect, const Picture& picture) {
    const char* codeset = nl_langinfo(CODESET);
    const bool halves = codeset != nullptr && std::string_view(codeset) == "UTF-8";
    const int pixelRows = rect.height * (halves ? 2 : 1);
    const std::vector<Rgb> pixels = Resize(picture, rect.width, pixelRows);
    const auto at = [&](int x, int y) {
        return TerminalColour(
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(rect.width) +
                   static_cast<std::size_t>(x)]);
    };
    for (int r = 0; r < rect.height; ++r) {
        for (int c = 0; c < rect.width; ++c) {
            if (halves) {
                PutCell(rect.row + r, rect.col + c, kUpperHalf,
                        PairFor(at(c, 2 * r), at(c, 2 * r + 1)));
            } else {
                const int colour = at(c, r);
                PutCell(rect.row + r, rect.col + c, kBlank, PairFor(colour, colour));
            }
        }
    }
}

std::string Padded(const std::string& text, int width) {
    std::string out = text.substr(0, static_cast<std::size_t>(std::max(width, 0)));
    out.resize(static_cast<std::size_t>(std::max(width, 0)), ' ');
    return out;
}

} // namespace fw::tui::draw

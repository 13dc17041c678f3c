#include "framework/tui/Layout.h"

#include <algorithm>
#include <cctype>

namespace fw::tui {
namespace {

constexpr int kButtonGap = 2;
constexpr int kMinimumBoxWidth = 24;

// units / (sixteenths / 16), rounded to the nearest whole cell, halves up.
int RoundedCells(int units, int sixteenths) {
    return (units * CellScale::kSixteenths * 2 + sixteenths) / (sixteenths * 2);
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            current += c;
        }
    }
    lines.push_back(current);
    return lines;
}

void WrapLine(const std::string& line, int width, std::vector<std::string>& out) {
    std::string rest = line;
    const auto limit = static_cast<std::size_t>(std::max(width, 1));
    while (rest.size() > limit) {
        std::size_t cut = rest.rfind(' ', limit);
        std::size_t next = 0;
        if (cut == std::string::npos || cut == 0) {
            cut = limit;
            next = limit;
        } else {
            next = cut + 1;
        }
        std::string head = rest.substr(0, cut);
        while (!head.empty() && head.back() == ' ') {
            head.pop_back();
        }
        out.push_back(head);
        rest.erase(0, next);
        while (!rest.empty() && rest.front() == ' ') {
            rest.erase(0, 1);
        }
    }
    out.push_back(rest);
}

} // namespace

CellRect ToCells(int x, int y, int cx, int cy, CellScale scale) {
    CellRect rect;
    rect.col = RoundedCells(x, scale.column);
    rect.row = RoundedCells(y, scale.row);
    rect.width = std::max(1, RoundedCells(x + cx, scale.column) - rect.col);
    rect.height = std::max(1, RoundedCells(y + cy, scale.row) - rect.row);
    return rect;
}

Mnemonic ParseMnemonic(std::string_view text) {
    Mnemonic result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
            if (text[i] != '&' && result.index < 0) {
                result.index = static_cast<int>(result.label.size());
                result.key = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
            }
        }
        result.label += text[i];
    }
    return result;
}

std::string ExpandTabs(std::string_view line, int tabWidth) {
    std::string out;
    for (const char c : line) {
        if (c == '\t') {
            do {
                out += ' ';
            } while (static_cast<int>(out.size()) % tabWidth != 0);
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<std::string> WrapText(std::string_view text, int width) {
    std::vector<std::string> out;
    for (const std::string& line : SplitLines(text)) {
        WrapLine(ExpandTabs(line), width, out);
    }
    return out;
}

std::vector<BoxButton> MessageBoxButtons(UINT type) {
    std::vector<BoxButton> buttons;
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        buttons = {{"OK", IDOK, 0}, {"Cancel", IDCANCEL, 0}};
        break;
    case 3: // MB_YESNOCANCEL
        buttons = {{"Yes", IDYES, 'y'}, {"No", IDNO, 'n'}, {"Cancel", IDCANCEL, 0}};
        break;
    case MB_YESNO:
        buttons = {{"Yes", IDYES, 'y'}, {"No", IDNO, 'n'}};
        break;
    case 5: // MB_RETRYCANCEL
        buttons = {{"Retry", IDRETRY, 'r'}, {"Cancel", IDCANCEL, 0}};
        break;
    default:
        buttons = {{"OK", IDOK, 0}};
        break;
    }
    for (auto& button : buttons) {
        button.width = static_cast<int>(button.label.size()) + 4;
    }
    return buttons;
}

int SafeAnswer(UINT type) {
    int answer = IDOK;
    for (const auto& button : MessageBoxButtons(type)) {
        if (button.id == IDNO) {
            return IDNO;
        }
        if (button.id == IDCANCEL) {
            answer = IDCANCEL;
        }
    }
    return answer;
}

std::string IconMark(UINT type) {
    switch (type & MB_ICONMASK) {
    case MB_ICONHAND:
        return "[X]";
    case MB_ICONQUESTION:
        return "[?]";
    case MB_ICONEXCLAMATION:
        return "[!]";
    case MB_ICONASTERISK:
        return "[i]";
    default:
        return "";
    }
}

MessageBoxLayout LayOutMessageBox(std::string_view text, std::string_view caption, UINT type,
                                  int maxWidth) {
    MessageBoxLayout layout;
    layout.caption = std::string(caption);
    layout.icon = IconMark(type);
    layout.buttons = MessageBoxButtons(type);
    const int iconCols = layout.icon.empty() ? 0 : static_cast<int>(layout.icon.size()) + 1;
    layout.textCol = layout.iconCol + iconCols;
    // Frame and one blank on each side around the icon and the text.
    const int textWidth = std::max(1, maxWidth - 4 - iconCols);
    layout.lines = WrapText(text, textWidth);
    while (layout.lines.size() > 1 && layout.lines.back().empty()) {
        layout.lines.pop_back();
    }
    int widest = 0;
    for (const auto& line : layout.lines) {
        widest = std::max(widest, static_cast<int>(line.size()));
    }
    int buttonsWidth = 0;
    for (const auto& button : layout.buttons) {
        buttonsWidth += button.width + (buttonsWidth > 0 ? kButtonGap : 0);
    }
    layout.width = std::max({widest + iconCols + 4, buttonsWidth + 4,
                             static_cast<int>(layout.caption.size()) + 6, kMinimumBoxWidth});
    layout.width = std::min(layout.width, std::max(maxWidth, kMinimumBoxWidth));
    layout.buttonRow = layout.textRow + static_cast<int>(layout.lines.size()) + 1;
    layout.height = layout.buttonRow + 2;
    int col = (layout.width - buttonsWidth) / 2;
    for (auto& button : layout.buttons) {
        button.col = col;
        col += button.width + kButtonGap;
    }
    return layout;
}

} // namespace fw::tui

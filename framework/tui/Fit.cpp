#include "framework/tui/Fit.h"

#include <algorithm>

#include "framework/Styles.h"

namespace fw::tui {
namespace {

namespace st = fw::style;
using fw::ControlKind;

// Shrinking stops at a quarter of the full size: below that no window is readable.
constexpr int kMostShrink = 4;
// How far (in sixteenths of a unit, each way) FitDialog looks beyond the least scale.
constexpr int kNearbyScales = 8;
// The close box "[x]" and a blank before it, right of a caption.
constexpr int kCloseBoxCols = 4;

CellRect Inner(const CellRect& rect) {
    return CellRect{rect.col + 1, rect.row + 1, std::max(0, rect.width - 2),
                    std::max(0, rect.height - 2)};
}

// Blanks at the end of a text show nothing: they may be cut.
int Width(std::string_view text) {
    const auto end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? 0 : static_cast<int>(end + 1);
}

// The least sixteenths a cell may stand for so that units fit in cells.
std::optional<int> ScaleFor(int units, int cells, int full) {
    for (int sixteenths = full; sixteenths <= full * kMostShrink; ++sixteenths) {
        if (ToCells(0, 0, units, 1, CellScale{sixteenths, sixteenths}).width <= cells) {
            return sixteenths;
        }
    }
    return std::nullopt;
}

// The lines text takes wrapped at width, without the empty ones at its end.
int Lines(std::string_view text, int width) {
    auto lines = WrapText(text, width);
    while (lines.size() > 1 && lines.back().find_first_not_of(' ') == std::string::npos) {
        lines.pop_back();
    }
    return static_cast<int>(lines.size());
}

int ButtonWidth(std::string_view text) { return Width(ParseMnemonic(text).label) + 4; }

bool Within(const ControlTemplate& inner, const ControlTemplate& outer) {
    return outer.x <= inner.x && inner.x + inner.cx <= outer.x + outer.cx && outer.y <= inner.y &&
           inner.y + inner.cy <= outer.y + outer.cy;
}

bool Within(const CellRect& inner, const CellRect& outer) {
    return outer.col <= inner.col && inner.col + inner.width <= outer.col + outer.width &&
           outer.row <= inner.row && inner.row + inner.height <= outer.row + outer.height;
}

// A control the template puts inside a group box stays off the box's frame, where it
// would cover the frame or the box's text would cover it.
bool InsideItsGroupBoxes(const DialogTemplate& dialog, const DialogCells& cells,
                         std::size_t index) {
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        if (dialog.controls[i].kind == ControlKind::GroupBox &&
            Within(dialog.controls[index], dialog.controls[i]) &&
            !Within(cells.controls[index], Inner(cells.controls[i]))) {
            return false;
        }
    }
    return true;
}

bool ShowsWhole(const DialogTemplate& dialog, const DialogCells& cells,
                std::span<const ControlContent> contents, std::size_t index) {
    const ControlTemplate& control = dialog.controls[index];
    const ControlContent& content = contents[index];
    if (control.kind != ControlKind::GroupBox && !InsideItsGroupBoxes(dialog, cells, index)) {
        return false;
    }
    const CellRect& rect = cells.controls[index];
    switch (control.kind) {
    case ControlKind::Static:
        if (rect.height > 1 && (control.style & st::SS_CENTERIMAGE) == 0) {
            return Lines(content.text, rect.width) <= rect.height;
        }
        return Width(ExpandTabs(content.text)) <= StaticRoom(cells, dialog.controls, index);
    case ControlKind::GroupBox:
        return content.text.empty() || Width(content.text) + 2 <= rect.width - 2;
    case ControlKind::PushButton: {
        const int width = ButtonWidth(content.text);
        if (width > cells.client.width) {
            return false;
        }
        // Nor may it cover another control, as it can when wider than its template.
        const CellRect drawn = ButtonCells(rect, cells.client, width);
        for (std::size_t i = 0; i < cells.controls.size(); ++i) {
            const CellRect& other = cells.controls[i];
            const bool sameRow = other.row <= drawn.row && drawn.row < other.row + other.height;
            if (i == index || dialog.controls[i].kind == ControlKind::GroupBox || !sameRow) {
                continue;
            }
            const CellRect otherDrawn =
                dialog.controls[i].kind == ControlKind::PushButton
                    ? ButtonCells(other, cells.client, ButtonWidth(contents[i].text))
                    : other;
            if (otherDrawn.row == drawn.row && otherDrawn.col < drawn.col + drawn.width &&
                drawn.col < otherDrawn.col + otherDrawn.width) {
                return false;
            }
        }
        return true;
    }
    case ControlKind::Edit: {
        // A scrolling edit shows all its lines in turn.
        if ((control.style & st::WS_VSCROLL) != 0) {
            return true;
        }
        const CellRect inner = (control.style & st::WS_BORDER) != 0 ? Inner(rect) : rect;
        return Lines(content.text, inner.width) <= inner.height;
    }
    case ControlKind::ListBox: {
        const CellRect inner = (control.style & st::WS_BORDER) != 0 ? Inner(rect) : rect;
        const int width = inner.width - ((control.style & st::WS_VSCROLL) != 0 ? 1 : 0);
        return std::all_of(content.items.begin(), content.items.end(),
                           [width](const std::string& item) { return Width(item) <= width; });
    }
    case ControlKind::Picture:
    case ControlKind::Progress:
    case ControlKind::Animation:
        return true;
    }
    return true;
}

} // namespace

DialogCells LayOutDialog(const DialogTemplate& dialog, CellScale scale) {
    DialogCells cells;
    cells.scale = scale;
    cells.client = ToCells(0, 0, dialog.cx, dialog.cy, scale);
    for (const auto& control : dialog.controls) {
        cells.controls.push_back(ToCells(control.x, control.y, control.cx, control.cy, scale));
    }
    return cells;
}

CellRect ButtonCells(const CellRect& rect, const CellRect& client, int labelWidth) {
    int col = rect.col + rect.width / 2 - labelWidth / 2;
    col = std::max(client.col, std::min(col, client.col + client.width - labelWidth));
    return CellRect{col, rect.row + (rect.height - 1) / 2, labelWidth, 1};
}

int StaticRoom(const DialogCells& cells, std::span<const ControlTemplate> controls,
               std::size_t index) {
    const CellRect& rect = cells.controls[index];
    int limit = cells.client.col + cells.client.width;
    const int row = rect.row + (rect.height - 1) / 2;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (i == index) {
            continue;
        }
        const CellRect& other = cells.controls[i];
        if (controls[i].kind == ControlKind::GroupBox) {
            if (other.Contains(rect.col, row) && other.col < rect.col) {
                limit = std::min(limit, other.col + other.width - 1);
            }
        } else if (row >= other.row && row < other.row + other.height && other.col > rect.col) {
            limit = std::min(limit, other.col - 1);
        }
    }
    return std::max(rect.width, limit - rect.col);
}

std::optional<CutText> FirstCutText(const DialogTemplate& dialog, const DialogCells& cells,
                                    std::string_view caption,
                                    std::span<const ControlContent> content) {
    // " caption " from the third column, clear of the close box.
    const int closeBox = (dialog.style & st::WS_SYSMENU) != 0 ? kCloseBoxCols : 0;
    if (Width(caption) + 2 > cells.FrameWidth() - 4 - closeBox) {
        return CutText{dialog.controls.size(), std::string(caption)};
    }
    for (std::size_t i = 0; i < dialog.controls.size() && i < content.size(); ++i) {
        if (!ShowsWhole(dialog, cells, content, i)) {
            return CutText{i, std::string(content[i].text)};
        }
    }
    return std::nullopt;
}

std::optional<DialogCells> FitDialog(const DialogTemplate& dialog, std::string_view caption,
                                     std::span<const ControlContent> content, int cols, int rows) {
    const CellScale full;
    const auto column = ScaleFor(dialog.cx, cols - 2, full.column);
    const auto row = ScaleFor(dialog.cy, rows - 2, full.row);
    if (!column || !row) {
        return std::nullopt;
    }
    // At full size the dialog is drawn as it is, whatever its texts: smaller cannot help.
    if (CellScale{*column, *row} == full) {
        return LayOutDialog(dialog, full);
    }
    // Cells round to whole columns and rows, so a slightly smaller scale may place what
    // the least one puts on a frame: the nearest that shows everything, largest first.
    for (int more = 0; more <= 2 * kNearbyScales; ++more) {
        for (int rowMore = std::max(0, more - kNearbyScales);
             rowMore <= std::min(more, kNearbyScales); ++rowMore) {
            DialogCells cells =
                LayOutDialog(dialog, CellScale{*column + more - rowMore, *row + rowMore});
            if (!FirstCutText(dialog, cells, caption, content)) {
                return cells;
            }
        }
    }
    return std::nullopt;
}

ScreenSize SmallestScreen(const DialogTemplate& dialog, std::string_view caption,
                          std::span<const ControlContent> content) {
    const DialogCells full = LayOutDialog(dialog, CellScale{});
    ScreenSize size{full.FrameWidth(), full.FrameHeight()};
    while (size.cols > 3 && FitDialog(dialog, caption, content, size.cols - 1, size.rows)) {
        --size.cols;
    }
    while (size.rows > 3 && FitDialog(dialog, caption, content, size.cols, size.rows - 1)) {
        --size.rows;
    }
    return size;
}

std::vector<ControlContent> TemplateContent(const DialogTemplate& dialog) {
    std::vector<ControlContent> content;
    for (const auto& control : dialog.controls) {
        content.push_back(ControlContent{control.text, {}});
    }
    return content;
}

} // namespace fw::tui

#include "framework/tui/Painter.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "framework/Styles.h"
#include "framework/tui/Curses.h"
#include "framework/tui/Draw.h"
#include "framework/tui/Fit.h"

namespace fw::tui {
namespace {

namespace st = fw::style;
using fw::ControlKind;
using namespace draw;

constexpr int kBoxMaxWidth = 76;
constexpr std::uint64_t kAnimationFrameMs = 150;

// Pixels (as SetWindowPos gives them, "MS Sans Serif" 8) to character cells.
constexpr int kPixelsPerColumn = 6;
constexpr int kPixelsPerRow = 13;

CellRect Offset(CellRect rect, const CellRect& by) {
    rect.col += by.col;
    rect.row += by.row;
    return rect;
}

std::vector<ControlContent> ContentOf(const model::Window& dialog) {
    std::vector<ControlContent> content;
    for (const auto& child : dialog.children) {
        content.push_back(ControlContent{child->text, child->items});
    }
    return content;
}

CellRect Inner(const CellRect& rect) {
    return CellRect{rect.col + 1, rect.row + 1, std::max(0, rect.width - 2),
                    std::max(0, rect.height - 2)};
}

} // namespace

std::vector<Painter::Placed> Painter::PlaceDialogs(const std::set<HWND>& shown,
                                                   ScreenSize& need) const {
    std::vector<Placed> placed;
    // A dialog sits at its owner's client origin plus its template offset; one without an
    // owner where SetWindowPos put it.
    const std::function<std::pair<int, int>(const model::Window&)> origin =
        [this, &origin](const model::Window& dialog) -> std::pair<int, int> {
        const CellRect offset = ToCells(dialog.dialog->x, dialog.dialog->y, 1, 1);
        if (const model::Window* owner = m_windows.Find(dialog.owner);
            owner != nullptr && owner->IsDialog()) {
            const auto [col, row] = origin(*owner);
            return {col + 1 + offset.col, row + 1 + offset.row};
        }
        if (dialog.x != 0 || dialog.y != 0) {
            return {dialog.x / kPixelsPerColumn, dialog.y / kPixelsPerRow};
        }
        return {offset.col, offset.row};
    };
    for (model::Window* dialog : m_windows.ModalStack()) {
        if (!shown.contains(dialog->handle)) {
            continue;
        }
        const auto content = ContentOf(*dialog);
        auto cells = FitDialog(*dialog->dialog, dialog->text, content, COLS, LINES);
        if (!cells) {
            const ScreenSize smallest = SmallestScreen(*dialog->dialog, dialog->text, content);
            need.cols = std::max(need.cols, smallest.cols);
            need.rows = std::max(need.rows, smallest.rows);
            continue;
        }
        CellRect frame{0, 0, cells->FrameWidth(), cells->FrameHeight()};
        const auto [col, row] = origin(*dialog);
        frame.col = std::max(0, std::min(col, COLS - frame.width));
        frame.row = std::max(0, std::min(row, LINES - frame.height));
        placed.push_back(Placed{dialog, frame, std::move(*cells)});
    }
    return placed;
}

std::size_t Painter::PlacesWanted(const std::set<HWND>& shown) const {
    const auto& stack = m_windows.ModalStack();
    return static_cast<std::size_t>(
        std::count_if(stack.begin(), stack.end(), [&shown](const model::Window* dialog) {
            return shown.contains(dialog->handle);
        }));
}

bool Painter::Paint(const std::set<HWND>& shown) {
    m_moving = false;
    m_scene.hits.clear();
    werase(stdscr);
    ScreenSize need;
    const auto placed = PlaceDialogs(shown, need);
    const int boxWidth = std::min(COLS, kBoxMaxWidth);
    for (const auto& box : m_scene.boxes) {
        const auto layout = LayOutMessageBox(box->text, box->caption, box->type, boxWidth);
        need.cols = std::max(need.cols, layout.width);
        need.rows = std::max(need.rows, layout.height);
    }
    if (need.cols > COLS || need.rows > LINES || placed.size() < PlacesWanted(shown)) {
        char message[64];
        std::snprintf(message, sizeof message, "Terminal too small: need %dx%d", need.cols,
                      need.rows);
        Put(0, 0, message, A_BOLD, COLS);
        wrefresh(stdscr);
        return false;
    }
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const bool active = m_scene.boxes.empty() && i + 1 == placed.size() &&
                            placed[i].dialog == m_windows.TopModal();
        DrawDialog(placed[i], active);
    }
    for (std::size_t i = 0; i < m_scene.boxes.size(); ++i) {
        DrawBox(*m_scene.boxes[i], i + 1 == m_scene.boxes.size());
    }
    wrefresh(stdscr);
    return m_moving;
}

void Painter::DrawDialog(const Placed& placed, bool active) {
    const model::Window& dialog = *placed.dialog;
    const CellRect& frame = placed.frame;
    Fill(frame, A_NORMAL);
    Frame(frame, active ? A_BOLD : A_NORMAL);
    const std::string caption = " " + dialog.text + " ";
    Put(frame.row, frame.col + 2, caption, active ? A_REVERSE | A_BOLD : A_NORMAL, frame.width - 4);
    if ((dialog.dialog->style & st::WS_SYSMENU) != 0 && frame.width > 8) {
        const int col = frame.col + frame.width - 5;
        Put(frame.row, col, "[x]", A_NORMAL);
        if (active) {
            m_scene.hits.push_back(Hit{CellRect{col, frame.row, 3, 1}, Hit::CloseBox});
        }
    }
    // Group boxes first: the controls they hold are drawn over their insides.
    for (const bool groups : {true, false}) {
        for (std::size_t i = 0; i < dialog.children.size(); ++i) {
            if ((dialog.children[i]->control->kind == ControlKind::GroupBox) == groups) {
                DrawControl(placed, i, active);
            }
        }
    }
}

void Painter::DrawControl(const Placed& placed, std::size_t index, bool active) {
    model::Window& control = *placed.dialog->children[index];
    const CellRect client = Inner(placed.frame);
    const CellRect rect = Offset(placed.cells.controls[index], client);
    const chtype dim = control.enabled ? A_NORMAL : A_DIM;
    const bool focused = active && control.parent->focus == control.handle;
    switch (control.control->kind) {
    case ControlKind::GroupBox:
        Frame(rect, dim);
        if (!control.text.empty()) {
            Put(rect.row, rect.col + 1, " " + control.text + " ", dim, rect.width - 2);
        }
        break;
    case ControlKind::ListBox:
        DrawListBox(control, rect, focused, active);
        break;
    case ControlKind::Edit:
        DrawEdit(control, rect);
        if (active && control.enabled) {
            m_scene.hits.push_back(Hit{rect, Hit::Control, control.handle});
        }
        break;
    case ControlKind::PushButton:
        DrawButton(control, client, rect, focused, active);
        break;
    case ControlKind::Picture: {
        if (const Picture* picture = FindPicture(control.control->bitmapId);
            picture != nullptr && ShowsPictures()) {
            PutPicture(rect, *picture);
            break;
        }
        Frame(rect, dim);
        const std::string label = "(picture)";
        const CellRect inner = Inner(rect);
        if (inner.width >= static_cast<int>(label.size()) && inner.height > 0) {
            Put(inner.row + (inner.height - 1) / 2,
                inner.col + (inner.width - static_cast<int>(label.size())) / 2, label, A_DIM);
        }
        break;
    }
    case ControlKind::Static:
        DrawStatic(control, rect, StaticRoom(placed.cells, placed.dialog->dialog->controls, index));
        break;
    case ControlKind::Progress: {
        const int filled = control.position * rect.width / 100;
        for (int c = 0; c < rect.width; ++c) {
            PutChar(rect.row + (rect.height - 1) / 2, rect.col + c,
                    c < filled ? (ACS_BLOCK | A_BOLD) : ACS_CKBOARD);
        }
        break;
    }
    case ControlKind::Animation:
        DrawAnimation(control, rect);
        break;
    }
}

void Painter::DrawListBox(model::Window& list, const CellRect& rect, bool focused, bool active) {
    const std::uint32_t style = list.control->style;
    CellRect inner = rect;
    if ((style & st::WS_BORDER) != 0) {
        Frame(rect, focused ? A_BOLD : (list.enabled ? A_NORMAL : A_DIM));
        inner = Inner(rect);
    }
    const int count = static_cast<int>(list.items.size());
    const int visible = std::max(1, inner.height);
    const bool scrolls = (style & st::WS_VSCROLL) != 0 && count > visible;
    const int width = inner.width - (scrolls ? 1 : 0);
    int& top = m_scene.top[list.handle];
    // Keep the selection in view, as the list box does when it moves.
    if (list.curSel >= 0 && (list.curSel < top || list.curSel >= top + visible) &&
        m_listSeen[list.handle] != list.curSel) {
        top = list.curSel < top ? list.curSel : list.curSel - visible + 1;
    }
    m_listSeen[list.handle] = list.curSel;
    top = std::clamp(top, 0, std::max(0, count - visible));
    for (int r = 0; r < visible && r < inner.height; ++r) {
        const int index = top + r;
        if (index >= count) {
            break;
        }
        chtype attr = list.enabled ? A_NORMAL : A_DIM;
        if (index == list.curSel) {
            attr |= focused ? (A_REVERSE | A_BOLD) : A_REVERSE;
        }
        Put(inner.row + r, inner.col, Padded(list.items[static_cast<std::size_t>(index)], width),
            attr);
        if (active && list.enabled) {
            m_scene.hits.push_back(Hit{CellRect{inner.col, inner.row + r, width, 1}, Hit::ListItem,
                                       list.handle, index});
        }
    }
    if (scrolls) {
        const int col = inner.col + inner.width - 1;
        ScrollBar(col, inner.row, inner.height, top, count - visible);
        if (active) {
            m_scene.hits.push_back(Hit{CellRect{col, inner.row, 1, 1}, Hit::ScrollUp, list.handle});
            m_scene.hits.push_back(Hit{CellRect{col, inner.row + inner.height - 1, 1, 1},
                                       Hit::ScrollDown, list.handle});
        }
    }
}

void Painter::DrawEdit(model::Window& edit, const CellRect& rect) {
    const std::uint32_t style = edit.control->style;
    CellRect inner = rect;
    const bool focused = edit.parent->focus == edit.handle;
    if ((style & st::WS_BORDER) != 0) {
        Frame(rect, focused ? A_BOLD : A_NORMAL);
        inner = Inner(rect);
    }
    const bool scrolls = (style & st::WS_VSCROLL) != 0;
    const int width = inner.width - (scrolls ? 1 : 0);
    const auto lines = WrapText(edit.text, std::max(1, width));
    // The model knows no line lengths: its first line is kept to the lines there are, so
    // that a key after End scrolls from the last page.
    int& top = edit.top;
    const int count = static_cast<int>(lines.size());
    top = std::clamp(top, 0, std::max(0, count - inner.height));
    const chtype attr = edit.enabled ? A_NORMAL : A_DIM;
    for (int r = 0; r < inner.height && top + r < count; ++r) {
        Put(inner.row + r, inner.col,
            lines[static_cast<std::size_t>(top) + static_cast<std::size_t>(r)], attr, width);
    }
    if (scrolls) {
        const int col = inner.col + inner.width - 1;
        ScrollBar(col, inner.row, inner.height, top, std::max(0, count - inner.height));
        m_scene.hits.push_back(Hit{CellRect{col, inner.row, 1, 1}, Hit::ScrollUp, edit.handle});
        m_scene.hits.push_back(
            Hit{CellRect{col, inner.row + inner.height - 1, 1, 1}, Hit::ScrollDown, edit.handle});
    }
}

void Painter::DrawButton(model::Window& button, const CellRect& client, const CellRect& rect,
                         bool focused, bool active) {
    const Mnemonic mnemonic = ParseMnemonic(button.text);
    const std::string label = "[ " + mnemonic.label + " ]";
    const int width = static_cast<int>(label.size());
    const CellRect drawn = ButtonCells(rect, client, width);
    const int col = drawn.col;
    const int row = drawn.row;
    chtype attr = button.enabled ? A_NORMAL : A_DIM;
    if (focused && button.enabled) {
        attr |= A_REVERSE;
    }
    const bool isDefault = (button.control->style & 0xF) == st::BS_DEFPUSHBUTTON;
    Put(row, col, label, attr | (isDefault && button.enabled ? A_BOLD : 0));
    if (mnemonic.index >= 0) {
        PutChar(
            row, col + 2 + mnemonic.index,
            static_cast<unsigned char>(mnemonic.label[static_cast<std::size_t>(mnemonic.index)]) |
                attr | A_UNDERLINE | (button.enabled ? A_BOLD : 0));
    }
    if (active && button.enabled) {
        m_scene.hits.push_back(Hit{CellRect{col, row, width, 1}, Hit::Button, button.handle});
    }
}

void Painter::DrawStatic(model::Window& text, const CellRect& rect, int room) {
    const std::uint32_t style = text.control->style;
    const chtype attr = text.enabled ? A_NORMAL : A_DIM;
    const bool sunken = (style & st::SS_SUNKEN) != 0;
    if (rect.height > 1 && (style & st::SS_CENTERIMAGE) == 0) {
        const auto lines = WrapText(text.text, rect.width);
        for (int r = 0; r < rect.height && r < static_cast<int>(lines.size()); ++r) {
            Put(rect.row + r, rect.col, lines[static_cast<std::size_t>(r)], attr, rect.width);
        }
        return;
    }
    // One line, which may run on to the right (room).
    const int row = rect.row + (rect.height - 1) / 2;
    const std::string line = ExpandTabs(text.text);
    if (sunken) {
        const int width = std::min(room, std::max(rect.width, static_cast<int>(line.size())));
        Put(row, rect.col, Padded(line, width), attr | A_UNDERLINE);
    } else {
        Put(row, rect.col, line, attr, room);
    }
}

void Painter::DrawAnimation(model::Window& animation, const CellRect& rect) {
    if (!animation.clip || rect.width < 3) {
        return;
    }
    // Data moving into the drive, in place of the clip.
    const int track = rect.width - 2;
    const auto frame = static_cast<int>((m_clock.TickCount() / kAnimationFrameMs) %
                                        static_cast<std::uint64_t>(track));
    std::string line = "[" + std::string(static_cast<std::size_t>(track), ' ') + "]";
    line[1 + static_cast<std::size_t>(frame)] = '>';
    Put(rect.row + (rect.height - 1) / 2, rect.col, line, A_BOLD);
    m_moving = true;
}

void Painter::DrawBox(Box& box, bool active) {
    const auto layout =
        LayOutMessageBox(box.text, box.caption, box.type, std::min(COLS, kBoxMaxWidth));
    const CellRect frame{std::max(0, (COLS - layout.width) / 2),
                         std::max(0, (LINES - layout.height) / 2), layout.width, layout.height};
    Fill(frame, A_NORMAL);
    Frame(frame, active ? A_BOLD : A_NORMAL);
    Put(frame.row, frame.col + 2, " " + layout.caption + " ",
        active ? A_REVERSE | A_BOLD : A_NORMAL, frame.width - 4);
    if (!layout.icon.empty()) {
        Put(frame.row + layout.textRow, frame.col + layout.iconCol, layout.icon, A_BOLD);
    }
    for (std::size_t i = 0; i < layout.lines.size(); ++i) {
        Put(frame.row + layout.textRow + static_cast<int>(i), frame.col + layout.textCol,
            layout.lines[i], A_NORMAL, frame.width - layout.textCol - 1);
    }
    box.focus = std::clamp(box.focus, 0, static_cast<int>(layout.buttons.size()) - 1);
    for (std::size_t i = 0; i < layout.buttons.size(); ++i) {
        const BoxButton& button = layout.buttons[i];
        const int col = frame.col + button.col;
        const int row = frame.row + layout.buttonRow;
        const chtype attr = active && static_cast<int>(i) == box.focus ? A_REVERSE : A_NORMAL;
        Put(row, col, "[ " + button.label + " ]", attr);
        if (button.key != 0) {
            PutChar(row, col + 2,
                    static_cast<unsigned char>(button.label.front()) | attr | A_UNDERLINE | A_BOLD);
        }
        if (active) {
            m_scene.hits.push_back(Hit{CellRect{col, row, button.width, 1}, Hit::BoxButton, nullptr,
                                       static_cast<int>(i)});
        }
    }
}

} // namespace fw::tui

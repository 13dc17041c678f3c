#include "framework/tui/TuiWindowSystem.h"

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <langinfo.h>
#include <functional>
#include <string_view>
#include <utility>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "framework/tui/Signals.h"
#include "framework/Styles.h"

// Curses' function-like macros (erase, move, clear, ...) would clash with member calls of
// the standard library: use the real functions only.
#define NCURSES_NOMACROS
#include <curses.h>

namespace fw::tui {

struct TuiWindowSystem::Box {
    std::string text;
    std::string caption;
    UINT type = MB_OK;
    bool worker = false;
    int focus = 0;
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    int answer = 0;
};

struct TuiWindowSystem::Hit {
    enum Kind { Button, ListItem, ScrollUp, ScrollDown, Control, BoxButton, CloseBox };
    CellRect rect;
    Kind kind;
    HWND control = nullptr;
    int index = 0;
};

namespace {

namespace st = fw::style;
using fw::ControlKind;

constexpr int kEscDelayMs = 25;
constexpr int kCtrlC = 3;
constexpr int kCtrlBackslash = 28;
constexpr int kEscape = 27;
constexpr int kExitInterrupted = 130;
constexpr int kExitHangUp = 129;
constexpr int kExitNoTerminal = 2;
constexpr int kBoxMaxWidth = 76;
constexpr int kFinishPollMs = 250;
constexpr std::uint64_t kAnimationFrameMs = 150;

// Pixels (as SetWindowPos gives them, "MS Sans Serif" 8) to character cells.
constexpr int kPixelsPerColumn = 6;
constexpr int kPixelsPerRow = 13;

bool Focusable(const model::Window& control) {
    const auto kind = control.control->kind;
    return control.enabled && (control.control->style & st::WS_TABSTOP) != 0 &&
           (kind == ControlKind::ListBox || kind == ControlKind::PushButton ||
            kind == ControlKind::Edit);
}

CellRect ControlCells(const model::Window& control, const CellRect& client) {
    const ControlTemplate& t = *control.control;
    CellRect rect = ToCells(t.x, t.y, t.cx, t.cy);
    rect.col += client.col;
    rect.row += client.row;
    return rect;
}

CellRect Inner(const CellRect& rect) {
    return CellRect{rect.col + 1, rect.row + 1, std::max(0, rect.width - 2),
                    std::max(0, rect.height - 2)};
}

void Put(int row, int col, std::string_view text, chtype attr, int maxCols = -1) {
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
            mvwaddch(stdscr, row, c, static_cast<unsigned char>(text[static_cast<std::size_t>(i)]) | attr);
        }
    }
}

void PutChar(int row, int col, chtype ch) {
    if (row >= 0 && row < LINES && col >= 0 && col < COLS) {
        mvwaddch(stdscr, row, col, ch);
    }
}

void Fill(const CellRect& rect, chtype attr) {
    for (int r = rect.row; r < rect.row + rect.height; ++r) {
        for (int c = rect.col; c < rect.col + rect.width; ++c) {
            PutChar(r, c, ' ' | attr);
        }
    }
}

void Frame(const CellRect& rect, chtype attr) {
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

// A scroll bar in one column: arrows at the ends, the thumb where top lies in the range.
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

std::string Padded(const std::string& text, int width) {
    std::string out = text.substr(0, static_cast<std::size_t>(std::max(width, 0)));
    out.resize(static_cast<std::size_t>(std::max(width, 0)), ' ');
    return out;
}

} // namespace

TuiWindowSystem::TuiWindowSystem(WorkerKernel& kernel)
    : ModelWindowSystem(kernel), m_workers(kernel),
      m_userInterfaceThread(std::this_thread::get_id()) {
    if (pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        m_wakePipe[0] = m_wakePipe[1] = -1;
    }
    // Before curses starts: curses then leaves SIGWINCH to us.
    signals::Install(m_wakePipe[1]);
}

TuiWindowSystem::~TuiWindowSystem() {
    EndScreen();
    signals::Restore();
    for (int& fd : m_wakePipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

bool TuiWindowSystem::StartScreen() {
    if (m_screen) {
        return true;
    }
    if (isatty(STDIN_FILENO) == 0 || isatty(STDOUT_FILENO) == 0) {
        return false;
    }
    std::setlocale(LC_CTYPE, "");
    // In a UTF-8 locale, draw frames with Unicode line characters rather than the VT100
    // alternate set, which terminal multiplexers do not always pass on.
    const char* codeset = nl_langinfo(CODESET);
    if (codeset != nullptr && std::string_view(codeset) == "UTF-8") {
        setenv("NCURSES_NO_UTF8_ACS", "1", 0);
    }
    if (newterm(nullptr, stdout, stdin) == nullptr) {
        return false;
    }
    m_screen = true;
    // Raw: Ctrl-C and Ctrl-\ arrive as keys, so a download can refuse them.
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(kEscDelayMs);
    curs_set(0);
    // Home and End as terminal multiplexers and rxvt send them, whatever TERM says.
    for (const auto& [sequence, code] : {std::pair{"\033[1~", KEY_HOME}, std::pair{"\033[4~", KEY_END},
                                         std::pair{"\033[7~", KEY_HOME}, std::pair{"\033[8~", KEY_END},
                                         std::pair{"\033[H", KEY_HOME}, std::pair{"\033[F", KEY_END},
                                         std::pair{"\033OH", KEY_HOME}, std::pair{"\033OF", KEY_END}}) {
        if (key_defined(sequence) == 0) {
            define_key(sequence, code);
        }
    }
    mousemask(BUTTON1_CLICKED | BUTTON1_RELEASED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
    m_dirty = true;
    return true;
}

void TuiWindowSystem::EndScreen() {
    if (!m_screen) {
        return;
    }
    m_screen = false;
    if (!m_gone) {
        endwin();
    }
}

void TuiWindowSystem::Quit(int code) {
    EndScreen();
    signals::Restore();
    std::fflush(stdout);
    std::exit(code);
}

INT_PTR TuiWindowSystem::RunModalDialog(CDialog& dialog, int templateId, HWND owner) {
    if (!m_gone && !StartScreen()) {
        std::fprintf(stderr, "fwupgrade: the terminal cannot show the program's windows\n");
        Quit(kExitNoTerminal);
    }
    m_dirty = true;
    const INT_PTR result = ModelWindowSystem::RunModalDialog(dialog, templateId, owner);
    m_dirty = true;
    return result;
}

LRESULT TuiWindowSystem::SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = ModelWindowSystem::SendMessage(window, message, wParam, lParam);
    // A dialog whose timer handler takes a whole period never lets its loop go idle: look
    // at the keyboard between the ticks.
    if (message == WM_TIMER) {
        ScheduleService();
    }
    return result;
}

void TuiWindowSystem::OnOperation(const model::Operation&) {
    m_dirty = true;
    if (OnUserInterfaceThread()) {
        ScheduleService();
    } else {
        Wake();
    }
}

void TuiWindowSystem::ScheduleService() {
    if (!m_servicePosted.exchange(true)) {
        RunOnUserInterfaceThread([this] {
            m_servicePosted = false;
            if (model::Window* top = TopModal()) {
                m_shown.insert(top->handle);
            }
            Service();
        });
    }
}

bool TuiWindowSystem::OnIdle(model::Window& dialog) {
    m_shown.insert(dialog.handle);
    return Service();
}

void TuiWindowSystem::WaitForActivity(std::optional<std::uint64_t> deadline) {
    int timeout = -1;
    if (deadline) {
        const std::uint64_t now = m_kernel.TickCount();
        timeout = *deadline > now ? static_cast<int>(*deadline - now) : 0;
    }
    WaitForInput(timeout);
}

void TuiWindowSystem::Wake() {
    if (m_wakePipe[1] >= 0) {
        const char byte = 'w';
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t written = write(m_wakePipe[1], &byte, 1);
    }
}

void TuiWindowSystem::WaitForInput(int timeoutMs) {
    pollfd fds[2] = {{m_wakePipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = m_screen && !m_gone ? 2 : 1;
    if (poll(fds, count, timeoutMs) > 0) {
        if ((fds[0].revents & POLLIN) != 0) {
            char drain[64];
            while (read(m_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        if (count == 2) {
            int pending = 0;
            const bool endOfInput = (fds[1].revents & POLLIN) != 0 &&
                                    ioctl(STDIN_FILENO, FIONREAD, &pending) == 0 && pending == 0;
            if ((fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 || endOfInput) {
                TerminalGone();
            }
        }
    }
}

void TuiWindowSystem::WorkersChanged(int live) {
    signals::ProtectDownload(live > 0);
    Wake();
}

void TuiWindowSystem::TerminalGone() {
    if (m_gone) {
        return;
    }
    m_gone = true;
    m_dirty = false;
}

bool TuiWindowSystem::Service() {
    TakeSignals();
    AdoptWorkerBoxes();
    const bool handled = ReadKeys();
    if (m_gone) {
        AnswerAllSafely();
        if (m_workers.LiveWorkers() == 0 && !m_finishing) {
            Quit(kExitHangUp);
        }
    }
    if (m_dirty) {
        Redraw();
    }
    return handled;
}

void TuiWindowSystem::TakeSignals() {
    const signals::Pending pending = signals::Take();
    if (pending.resize && m_screen && !m_gone) {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
            resize_term(size.ws_row, size.ws_col);
        }
        m_dirty = true;
    }
    if (pending.hangup) {
        TerminalGone();
    }
    if (pending.interrupt && m_workers.LiveWorkers() == 0) {
        Quit(kExitInterrupted);
    }
}

void TuiWindowSystem::AdoptWorkerBoxes() {
    std::vector<std::shared_ptr<Box>> incoming;
    {
        std::lock_guard lock(m_incomingMutex);
        incoming.swap(m_incoming);
    }
    for (auto& box : incoming) {
        m_boxes.push_back(std::move(box));
        m_dirty = true;
    }
}

void TuiWindowSystem::Answer(const std::shared_ptr<Box>& box, int answer) {
    {
        std::lock_guard lock(box->mutex);
        box->answered = true;
        box->answer = answer;
    }
    box->done.notify_all();
    m_boxes.erase(std::remove(m_boxes.begin(), m_boxes.end(), box), m_boxes.end());
    m_dirty = true;
}

void TuiWindowSystem::AnswerAllSafely() {
    AdoptWorkerBoxes();
    const auto boxes = m_boxes;
    for (const auto& box : boxes) {
        Answer(box, SafeAnswer(box->type));
    }
}

int TuiWindowSystem::MessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    (void)owner; // boxes are centred on the screen, above everything
    auto box = std::make_shared<Box>();
    box->text = text != nullptr ? text : "";
    box->caption = caption != nullptr ? caption : "";
    box->type = type;
    if (!OnUserInterfaceThread()) {
        if (m_gone) {
            return SafeAnswer(type);
        }
        box->worker = true;
        {
            std::lock_guard lock(m_incomingMutex);
            m_incoming.push_back(box);
        }
        ScheduleService();
        Wake();
        std::unique_lock lock(box->mutex);
        box->done.wait(lock, [&box] { return box->answered; });
        return box->answer;
    }

    if (!m_gone && !StartScreen()) {
        std::fprintf(stderr, "fwupgrade: %s\n", box->text.c_str());
        return SafeAnswer(type);
    }
    if (m_gone) {
        return SafeAnswer(type);
    }
    m_boxes.push_back(box);
    m_dirty = true;
    // The box's own loop: the dialogs under it wait, worker boxes may still come on top.
    while (!box->answered) {
        Service();
        if (box->answered) {
            break;
        }
        WaitForInput(-1);
    }
    m_dirty = true;
    return box->answer;
}

void TuiWindowSystem::FinishWorkers() {
    m_finishing = true;
    while (m_workers.LiveWorkers() > 0) {
        Service();
        if (m_workers.LiveWorkers() == 0) {
            break;
        }
        WaitForInput(kFinishPollMs);
    }
    m_finishing = false;
}

// ---------------------------------------------------------------------------------------
// Keys and mouse

bool TuiWindowSystem::ReadKeys() {
    if (!m_screen || m_gone) {
        return false;
    }
    bool any = false;
    for (;;) {
        int key = wgetch(stdscr);
        if (key == ERR) {
            break;
        }
        any = true;
        bool alt = false;
        if (key == kEscape) {
            // Alt+letter arrives as ESC and the letter together.
            const int next = wgetch(stdscr);
            if (next == '[' || next == 'O') {
                // A key sequence curses does not know: never mistake it for Esc, which
                // would disagree or rescan.
                int tail = wgetch(stdscr);
                while (tail != ERR && !(tail >= 0x40 && tail <= 0x7E)) {
                    tail = wgetch(stdscr);
                }
                continue;
            }
            if (next != ERR && next < 128 && std::isalnum(next) != 0) {
                key = next;
                alt = true;
            } else if (next != ERR) {
                HandleKey(kEscape, false);
                key = next;
            }
        }
        HandleKey(key, alt);
        if (m_gone || !m_screen) {
            break;
        }
    }
    return any;
}

void TuiWindowSystem::HandleKey(int key, bool alt) {
    m_dirty = true;
    if (key == KEY_RESIZE) {
        return;
    }
    if (key == kCtrlC || key == kCtrlBackslash) {
        // Ignored while a download runs: the drive must not be left half written.
        if (m_workers.LiveWorkers() == 0) {
            Quit(kExitInterrupted);
        }
        return;
    }
    if (key == KEY_MOUSE) {
        HandleMouse();
        return;
    }
    if (!m_boxes.empty()) {
        HandleBoxKey(*m_boxes.back(), key);
        return;
    }
    if (model::Window* dialog = TopModal(); dialog != nullptr && m_shown.contains(dialog->handle)) {
        HandleDialogKey(*dialog, key, alt);
    }
}

void TuiWindowSystem::HandleBoxKey(Box& box, int key) {
    const std::shared_ptr<Box> keep = m_boxes.back();
    const auto buttons = MessageBoxButtons(box.type);
    const int count = static_cast<int>(buttons.size());
    switch (key) {
    case '\t':
    case KEY_RIGHT:
        box.focus = (box.focus + 1) % count;
        return;
    case KEY_BTAB:
    case KEY_LEFT:
        box.focus = (box.focus + count - 1) % count;
        return;
    case '\n':
    case '\r':
    case KEY_ENTER:
    case ' ':
        Answer(keep, buttons[static_cast<std::size_t>(box.focus)].id);
        return;
    case kEscape:
        // As the system's boxes: Esc is Cancel, or OK in a box that has only OK.
        for (const auto& button : buttons) {
            if (button.id == IDCANCEL) {
                Answer(keep, IDCANCEL);
                return;
            }
        }
        if (count == 1 && buttons.front().id == IDOK) {
            Answer(keep, IDOK);
        }
        return;
    default:
        break;
    }
    if (key > 0 && key < 128) {
        const char letter = static_cast<char>(std::tolower(key));
        for (const auto& button : buttons) {
            if (button.key != 0 && button.key == letter) {
                Answer(keep, button.id);
                return;
            }
        }
    }
}

void TuiWindowSystem::HandleDialogKey(model::Window& dialog, int key, bool alt) {
    if (!dialog.enabled) {
        return;
    }
    model::Window* focus = Focus(dialog);
    const ControlKind kind = focus != nullptr ? focus->control->kind : ControlKind::Static;
    const bool onButton = focus != nullptr && kind == ControlKind::PushButton;
    switch (key) {
    case '\t':
        MoveFocus(dialog, 1);
        return;
    case KEY_BTAB:
        MoveFocus(dialog, -1);
        return;
    case KEY_UP:
    case KEY_DOWN:
    case KEY_LEFT:
    case KEY_RIGHT:
    case KEY_PPAGE:
    case KEY_NPAGE:
    case KEY_HOME:
    case KEY_END: {
        const bool back = key == KEY_UP || key == KEY_LEFT || key == KEY_PPAGE || key == KEY_HOME;
        int step = back ? -1 : 1;
        if (key == KEY_PPAGE || key == KEY_NPAGE) {
            step *= 8;
        } else if (key == KEY_HOME || key == KEY_END) {
            step *= 1 << 20;
        }
        if (focus == nullptr) {
            return;
        }
        if (kind == ControlKind::ListBox && key != KEY_LEFT && key != KEY_RIGHT) {
            MoveSelection(*focus, step);
        } else if (kind == ControlKind::Edit && key != KEY_LEFT && key != KEY_RIGHT) {
            ScrollEdit(*focus, step);
        } else if (onButton) {
            MoveFocus(dialog, back ? -1 : 1);
        }
        return;
    }
    case '\n':
    case '\r':
    case KEY_ENTER:
        if (onButton) {
            Click(focus->Id());
        } else {
            PressEnter();
        }
        return;
    case ' ':
        if (onButton) {
            Click(focus->Id());
        }
        return;
    case kEscape:
        PressEscape(focus != nullptr ? focus->Id() : 0);
        return;
    default:
        break;
    }
    (void)alt; // a letter presses its button with or without Alt
    if (key > 0 && key < 128 && std::isalnum(key) != 0) {
        PressMnemonic(dialog, key);
    }
}

bool TuiWindowSystem::PressMnemonic(model::Window& dialog, int key) {
    const char letter = static_cast<char>(std::tolower(key));
    for (const auto& child : dialog.children) {
        if (child->control->kind == ControlKind::PushButton && child->enabled &&
            ParseMnemonic(child->text).key == letter) {
            m_focus[dialog.handle] = child->handle;
            return Click(child->Id());
        }
    }
    return false;
}

model::Window* TuiWindowSystem::Focus(model::Window& dialog) {
    const auto found = m_focus.find(dialog.handle);
    if (found != m_focus.end()) {
        model::Window* control = Find(found->second);
        if (control != nullptr && control->parent == &dialog && Focusable(*control)) {
            return control;
        }
    }
    for (const auto& child : dialog.children) {
        if (Focusable(*child)) {
            m_focus[dialog.handle] = child->handle;
            return child.get();
        }
    }
    return nullptr;
}

void TuiWindowSystem::MoveFocus(model::Window& dialog, int step) {
    std::vector<model::Window*> stops;
    for (const auto& child : dialog.children) {
        if (Focusable(*child)) {
            stops.push_back(child.get());
        }
    }
    if (stops.empty()) {
        return;
    }
    const model::Window* current = Focus(dialog);
    const auto at = std::find(stops.begin(), stops.end(), current);
    const int count = static_cast<int>(stops.size());
    const int index = at != stops.end() ? static_cast<int>(at - stops.begin()) : 0;
    m_focus[dialog.handle] = stops[static_cast<std::size_t>((index + step + count) % count)]->handle;
}

void TuiWindowSystem::MoveSelection(model::Window& list, int step) {
    const int count = static_cast<int>(list.items.size());
    if (count == 0) {
        return;
    }
    const long wanted = list.curSel < 0 ? 0 : static_cast<long>(list.curSel) + step;
    const int target = static_cast<int>(std::clamp<long>(wanted, 0, count - 1));
    if (target != list.curSel) {
        SelectItem(list.Id(), target);
    }
}

void TuiWindowSystem::ScrollEdit(model::Window& edit, int step) {
    const long top = static_cast<long>(m_top[edit.handle]) + step;
    // The upper end is clamped when drawn, where the number of lines is known.
    m_top[edit.handle] = static_cast<int>(std::clamp<long>(top, 0, 1 << 20));
}

void TuiWindowSystem::HandleMouse() {
    MEVENT event{};
    if (getmouse(&event) != OK) {
        return;
    }
    const Hit* hit = nullptr;
    for (auto it = m_hits.rbegin(); it != m_hits.rend(); ++it) {
        if (it->rect.Contains(event.x, event.y)) {
            hit = &*it;
            break;
        }
    }
    if (hit == nullptr) {
        return;
    }
    const Hit target = *hit;
    const bool wheelUp = (event.bstate & BUTTON4_PRESSED) != 0;
    const bool wheelDown = (event.bstate & BUTTON5_PRESSED) != 0;
    const bool click = (event.bstate & (BUTTON1_CLICKED | BUTTON1_RELEASED)) != 0;
    if (target.kind == Hit::BoxButton) {
        if (click && !m_boxes.empty()) {
            const std::shared_ptr<Box> box = m_boxes.back();
            const auto buttons = MessageBoxButtons(box->type);
            if (target.index < static_cast<int>(buttons.size())) {
                Answer(box, buttons[static_cast<std::size_t>(target.index)].id);
            }
        }
        return;
    }
    model::Window* dialog = TopModal();
    if (dialog == nullptr) {
        return;
    }
    if (target.kind == Hit::CloseBox) {
        if (click) {
            PressCloseBox();
        }
        return;
    }
    model::Window* control = Find(target.control);
    if (control == nullptr) {
        return;
    }
    const bool isList = control->control->kind == ControlKind::ListBox;
    if (wheelUp || wheelDown || target.kind == Hit::ScrollUp || target.kind == Hit::ScrollDown) {
        if (!wheelUp && !wheelDown && !click) {
            return;
        }
        const int step = wheelUp || target.kind == Hit::ScrollUp ? -1 : 1;
        if (isList) {
            m_top[control->handle] = std::max(0, m_top[control->handle] + step);
        } else {
            ScrollEdit(*control, step);
        }
        return;
    }
    if (!click) {
        return;
    }
    if (Focusable(*control)) {
        m_focus[dialog->handle] = control->handle;
    }
    if (target.kind == Hit::Button) {
        Click(control->Id());
    } else if (target.kind == Hit::ListItem && target.index != control->curSel) {
        SelectItem(control->Id(), target.index);
    }
}

// ---------------------------------------------------------------------------------------
// Drawing

std::vector<TuiWindowSystem::Placed> TuiWindowSystem::PlaceDialogs() const {
    std::vector<Placed> placed;
    // A dialog sits at its owner's client origin plus its template offset; one without an
    // owner where SetWindowPos put it.
    const std::function<std::pair<int, int>(const model::Window&)> origin =
        [this, &origin](const model::Window& dialog) -> std::pair<int, int> {
        const CellRect offset = ToCells(dialog.dialog->x, dialog.dialog->y, 1, 1);
        if (const model::Window* owner = Find(dialog.owner); owner != nullptr && owner->IsDialog()) {
            const auto [col, row] = origin(*owner);
            return {col + 1 + offset.col, row + 1 + offset.row};
        }
        if (dialog.x != 0 || dialog.y != 0) {
            return {dialog.x / kPixelsPerColumn, dialog.y / kPixelsPerRow};
        }
        return {offset.col, offset.row};
    };
    for (model::Window* dialog : ModalStack()) {
        if (!m_shown.contains(dialog->handle)) {
            continue;
        }
        const CellRect client = ToCells(0, 0, dialog->dialog->cx, dialog->dialog->cy);
        CellRect frame{0, 0, client.width + 2, client.height + 2};
        const auto [col, row] = origin(*dialog);
        frame.col = std::max(0, std::min(col, COLS - frame.width));
        frame.row = std::max(0, std::min(row, LINES - frame.height));
        placed.push_back(Placed{dialog, frame});
    }
    return placed;
}

void TuiWindowSystem::Redraw() {
    if (!m_screen || m_gone) {
        return;
    }
    m_dirty = false;
    m_hits.clear();
    werase(stdscr);
    const auto placed = PlaceDialogs();
    const int boxWidth = std::min(COLS, kBoxMaxWidth);
    int needCols = 0;
    int needRows = 0;
    for (const auto& p : placed) {
        needCols = std::max(needCols, p.frame.width);
        needRows = std::max(needRows, p.frame.height);
    }
    for (const auto& box : m_boxes) {
        const auto layout = LayOutMessageBox(box->text, box->caption, box->type, boxWidth);
        needCols = std::max(needCols, layout.width);
        needRows = std::max(needRows, layout.height);
    }
    if (needCols > COLS || needRows > LINES) {
        char message[64];
        std::snprintf(message, sizeof message, "Terminal too small: need %dx%d", needCols, needRows);
        Put(0, 0, message, A_BOLD, COLS);
        wrefresh(stdscr);
        return;
    }
    for (std::size_t i = 0; i < placed.size(); ++i) {
        const bool active = m_boxes.empty() && i + 1 == placed.size() &&
                            placed[i].dialog == TopModal();
        DrawDialog(placed[i], active);
    }
    for (std::size_t i = 0; i < m_boxes.size(); ++i) {
        DrawBox(*m_boxes[i], i + 1 == m_boxes.size());
    }
    wrefresh(stdscr);
}

void TuiWindowSystem::DrawDialog(const Placed& placed, bool active) {
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
            m_hits.push_back(Hit{CellRect{col, frame.row, 3, 1}, Hit::CloseBox});
        }
    }
    const CellRect client = Inner(frame);
    // Group boxes first: the controls they hold are drawn over their insides.
    for (const auto& child : dialog.children) {
        if (child->control->kind == ControlKind::GroupBox) {
            DrawControl(*child, client, active);
        }
    }
    for (const auto& child : dialog.children) {
        if (child->control->kind != ControlKind::GroupBox) {
            DrawControl(*child, client, active);
        }
    }
}

void TuiWindowSystem::DrawControl(model::Window& control, const CellRect& client, bool active) {
    const CellRect rect = ControlCells(control, client);
    const chtype dim = control.enabled ? A_NORMAL : A_DIM;
    const auto found = m_focus.find(control.parent->handle);
    const bool focused = active && found != m_focus.end() && found->second == control.handle;
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
            m_hits.push_back(Hit{rect, Hit::Control, control.handle});
        }
        break;
    case ControlKind::PushButton:
        DrawButton(control, client, rect, focused, active);
        break;
    case ControlKind::Picture: {
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
        DrawStatic(control, client, rect);
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

void TuiWindowSystem::DrawListBox(model::Window& list, const CellRect& rect, bool focused,
                                  bool active) {
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
    int& top = m_top[list.handle];
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
        Put(inner.row + r, inner.col, Padded(list.items[static_cast<std::size_t>(index)], width), attr);
        if (active && list.enabled) {
            m_hits.push_back(Hit{CellRect{inner.col, inner.row + r, width, 1}, Hit::ListItem,
                                 list.handle, index});
        }
    }
    if (scrolls) {
        const int col = inner.col + inner.width - 1;
        ScrollBar(col, inner.row, inner.height, top, count - visible);
        if (active) {
            m_hits.push_back(Hit{CellRect{col, inner.row, 1, 1}, Hit::ScrollUp, list.handle});
            m_hits.push_back(
                Hit{CellRect{col, inner.row + inner.height - 1, 1, 1}, Hit::ScrollDown, list.handle});
        }
    }
}

void TuiWindowSystem::DrawEdit(model::Window& edit, const CellRect& rect) {
    const std::uint32_t style = edit.control->style;
    CellRect inner = rect;
    const auto found = m_focus.find(edit.parent->handle);
    const bool focused = found != m_focus.end() && found->second == edit.handle;
    if ((style & st::WS_BORDER) != 0) {
        Frame(rect, focused ? A_BOLD : A_NORMAL);
        inner = Inner(rect);
    }
    const bool scrolls = (style & st::WS_VSCROLL) != 0;
    const int width = inner.width - (scrolls ? 1 : 0);
    const auto lines = WrapText(edit.text, std::max(1, width));
    int& top = m_top[edit.handle];
    // New text starts at its beginning.
    const std::size_t textHash = std::hash<std::string>{}(edit.text);
    if (m_editSeen[edit.handle] != textHash) {
        m_editSeen[edit.handle] = textHash;
        top = 0;
    }
    const int count = static_cast<int>(lines.size());
    top = std::clamp(top, 0, std::max(0, count - inner.height));
    const chtype attr = edit.enabled ? A_NORMAL : A_DIM;
    for (int r = 0; r < inner.height && top + r < count; ++r) {
        Put(inner.row + r, inner.col, lines[static_cast<std::size_t>(top) + static_cast<std::size_t>(r)], attr, width);
    }
    if (scrolls) {
        const int col = inner.col + inner.width - 1;
        ScrollBar(col, inner.row, inner.height, top, std::max(0, count - inner.height));
        m_hits.push_back(Hit{CellRect{col, inner.row, 1, 1}, Hit::ScrollUp, edit.handle});
        m_hits.push_back(
            Hit{CellRect{col, inner.row + inner.height - 1, 1, 1}, Hit::ScrollDown, edit.handle});
    }
}

void TuiWindowSystem::DrawButton(model::Window& button, const CellRect& client,
                                 const CellRect& rect, bool focused, bool active) {
    const Mnemonic mnemonic = ParseMnemonic(button.text);
    const std::string label = "[ " + mnemonic.label + " ]";
    const int width = static_cast<int>(label.size());
    // Wider than its template when the text needs it, around the same centre.
    int col = rect.col + rect.width / 2 - width / 2;
    col = std::max(client.col, std::min(col, client.col + client.width - width));
    const int row = rect.row + (rect.height - 1) / 2;
    chtype attr = button.enabled ? A_NORMAL : A_DIM;
    if (focused && button.enabled) {
        attr |= A_REVERSE;
    }
    const bool isDefault = (button.control->style & 0xF) == st::BS_DEFPUSHBUTTON;
    Put(row, col, label, attr | (isDefault && button.enabled ? A_BOLD : 0));
    if (mnemonic.index >= 0) {
        PutChar(row, col + 2 + mnemonic.index,
                static_cast<unsigned char>(mnemonic.label[static_cast<std::size_t>(mnemonic.index)]) |
                    attr | A_UNDERLINE | (button.enabled ? A_BOLD : 0));
    }
    if (active && button.enabled) {
        m_hits.push_back(Hit{CellRect{col, row, width, 1}, Hit::Button, button.handle});
    }
}

void TuiWindowSystem::DrawStatic(model::Window& text, const CellRect& client, const CellRect& rect) {
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
    // One line, which may run on to the right up to the next control on that row, the
    // group box around it or the dialog's edge: character cells are wider than the
    // template's proportional font.
    int limit = client.col + client.width;
    const int row = rect.row + (rect.height - 1) / 2;
    for (const auto& sibling : text.parent->children) {
        if (sibling.get() == &text) {
            continue;
        }
        const CellRect other = ControlCells(*sibling, client);
        if (sibling->control->kind == ControlKind::GroupBox) {
            if (other.Contains(rect.col, row) && other.col < rect.col) {
                limit = std::min(limit, other.col + other.width - 1);
            }
        } else if (row >= other.row && row < other.row + other.height && other.col > rect.col) {
            limit = std::min(limit, other.col - 1);
        }
    }
    const int room = std::max(rect.width, limit - rect.col);
    const std::string line = ExpandTabs(text.text);
    if (sunken) {
        const int width = std::min(room, std::max(rect.width, static_cast<int>(line.size())));
        Put(row, rect.col, Padded(line, width), attr | A_UNDERLINE);
    } else {
        Put(row, rect.col, line, attr, room);
    }
}

void TuiWindowSystem::DrawAnimation(model::Window& animation, const CellRect& rect) {
    if (!animation.clip || rect.width < 3) {
        return;
    }
    // Data moving into the drive, in place of the clip.
    const int track = rect.width - 2;
    const auto frame = static_cast<int>((m_kernel.TickCount() / kAnimationFrameMs) %
                                        static_cast<std::uint64_t>(track));
    std::string line = "[" + std::string(static_cast<std::size_t>(track), ' ') + "]";
    line[1 + static_cast<std::size_t>(frame)] = '>';
    Put(rect.row + (rect.height - 1) / 2, rect.col, line, A_BOLD);
    m_dirty = true;
}

void TuiWindowSystem::DrawBox(Box& box, bool active) {
    const auto layout = LayOutMessageBox(box.text, box.caption, box.type, std::min(COLS, kBoxMaxWidth));
    const CellRect frame{std::max(0, (COLS - layout.width) / 2),
                         std::max(0, (LINES - layout.height) / 2), layout.width, layout.height};
    Fill(frame, A_NORMAL);
    Frame(frame, active ? A_BOLD : A_NORMAL);
    Put(frame.row, frame.col + 2, " " + layout.caption + " ", active ? A_REVERSE | A_BOLD : A_NORMAL,
        frame.width - 4);
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
            m_hits.push_back(
                Hit{CellRect{col, row, button.width, 1}, Hit::BoxButton, nullptr, static_cast<int>(i)});
        }
    }
}

} // namespace fw::tui

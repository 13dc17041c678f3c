#include "framework/tui/Screen.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <string_view>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>

#include "framework/tui/Curses.h"

namespace fw::tui {
namespace {

constexpr int kEscDelayMs = 25;

} // namespace

Screen::Screen() {
    if (pipe2(m_wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        m_wakePipe[0] = m_wakePipe[1] = -1;
    }
    signals::Install(m_wakePipe[1]);
}

Screen::~Screen() {
    End();
    signals::Restore();
    for (int& fd : m_wakePipe) {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }
}

bool Screen::Start() {
    if (m_started) {
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
    m_started = true;
    // Raw: Ctrl-C and Ctrl-\ arrive as keys, so a download can refuse them.
    raw();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    // Eight bits of input: a terminal may send Alt+letter as the letter with the eighth bit.
    meta(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(kEscDelayMs);
    curs_set(0);
    // Colours for the pictures; everything else keeps the terminal's own.
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    // Home and End as terminal multiplexers and rxvt send them, whatever TERM says.
    for (const auto& [sequence, code] :
         {std::pair{"\033[1~", KEY_HOME}, std::pair{"\033[4~", KEY_END},
          std::pair{"\033[7~", KEY_HOME}, std::pair{"\033[8~", KEY_END},
          std::pair{"\033[H", KEY_HOME}, std::pair{"\033[F", KEY_END},
          std::pair{"\033OH", KEY_HOME}, std::pair{"\033OF", KEY_END}}) {
        if (key_defined(sequence) == 0) {
            define_key(sequence, code);
        }
    }
    mousemask(BUTTON1_CLICKED | BUTTON1_RELEASED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
    return true;
}

void Screen::End() {
    if (!m_started) {
        return;
    }
    m_started = false;
    if (!m_gone) {
        endwin();
    }
}

void Screen::Quit(int code) {
    End();
    signals::Restore();
    std::fflush(stdout);
    std::exit(code);
}

void Screen::Wake() {
    if (m_wakePipe[1] >= 0) {
        const char byte = 'w';
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t written = write(m_wakePipe[1], &byte, 1);
    }
}

void Screen::Wait(int timeoutMs) {
    pollfd fds[2] = {{m_wakePipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    const nfds_t count = Usable() ? 2 : 1;
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
                MarkGone();
            }
        }
    }
}

signals::Pending Screen::TakeSignals() {
    const signals::Pending pending = signals::Take();
    if (pending.resize && Usable()) {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
            resize_term(size.ws_row, size.ws_col);
        }
    }
    return pending;
}

} // namespace fw::tui

// The terminal itself: curses started and ended, the size followed, the wake-up pipe that
// lets other threads and signal handlers end a wait, and the signals of the terminal
// program. Everything but Wake() belongs to the user-interface thread.
#pragma once

#include <atomic>

#include "framework/tui/Signals.h"

namespace fw::tui {

class Screen {
public:
    // Makes the wake-up pipe and installs the signal handlers, before curses starts, so
    // that curses leaves SIGWINCH to us.
    Screen();
    // Ends curses and puts the signals' previous handling back.
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Starts curses on the program's terminal; false when stdin or stdout is no terminal
    // or curses refuses it. Does nothing once started.
    bool Start();
    // Restores the terminal (unless it is gone); safe to call more than once.
    void End();
    // Curses runs and the terminal is still there: it may be drawn on and read.
    bool Usable() const { return m_started && !m_gone; }
    bool Started() const { return m_started; }

    // The terminal went away (hang-up, end of its input): from now on nothing is drawn or
    // read. Any thread may ask.
    bool Gone() const { return m_gone; }
    // Returns true the first time.
    bool MarkGone() { return !m_gone.exchange(true); }

    // Ends a Wait early; any thread, and safe where a signal handler writes too.
    void Wake();
    // Waits up to timeoutMs (-1: no limit) for a key, a Wake or a signal. A terminal whose
    // input has ended is marked gone.
    void Wait(int timeoutMs);
    // The signals that came since the last call; a resize is applied to curses here.
    signals::Pending TakeSignals();

    // Restores the terminal and the signals and ends the process.
    [[noreturn]] void Quit(int code);

private:
    int m_wakePipe[2] = {-1, -1};
    bool m_started = false;
    std::atomic<bool> m_gone{false};
};

} // namespace fw::tui

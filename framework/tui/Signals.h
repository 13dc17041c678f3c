// The process's signals while the terminal program runs. Handlers only record what came
// and write one byte to the window system's wake-up pipe; the user-interface thread acts on
// it. During a firmware download the signals that would end the program are ignored, so a
// closed terminal or a stray Ctrl-C cannot leave a drive with half its firmware.
#pragma once

namespace fw::tui::signals {

// Handles SIGINT, SIGQUIT, SIGTERM, SIGHUP and SIGWINCH from now on; each writes a byte to
// wakeFd. Restore() puts the previous handling back.
void Install(int wakeFd);
void Restore();

// On: SIGINT, SIGQUIT and SIGTERM are ignored and SIGHUP is only recorded. Off: all of them
// are recorded for the user-interface thread to act on.
void ProtectDownload(bool on);

// Blocks the handled signals in the calling thread, so that they reach the user-interface
// thread (which waits in poll) rather than a worker.
void BlockInThisThread();

struct Pending {
    bool interrupt = false; // SIGINT, SIGQUIT or SIGTERM
    bool hangup = false;    // SIGHUP
    bool resize = false;    // SIGWINCH
};
// What arrived since the last call.
Pending Take();

} // namespace fw::tui::signals

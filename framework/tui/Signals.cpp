#include "framework/tui/Signals.h"

#include <csignal>
#include <initializer_list>
#include <pthread.h>
#include <unistd.h>

namespace fw::tui::signals {
namespace {

// Shared with the handlers, which may only touch lock-free atomics of this kind.
volatile std::sig_atomic_t g_interrupt = 0;
volatile std::sig_atomic_t g_hangup = 0;
volatile std::sig_atomic_t g_resize = 0;
volatile std::sig_atomic_t g_wakeFd = -1;

constexpr int kHandled[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGWINCH};
constexpr int kHandledCount = sizeof kHandled / sizeof kHandled[0];
struct sigaction g_previous[kHandledCount];
bool g_installed = false;

void Record(int number) {
    if (number == SIGHUP) {
        g_hangup = 1;
    } else if (number == SIGWINCH) {
        g_resize = 1;
    } else {
        g_interrupt = 1;
    }
    const int fd = g_wakeFd;
    if (fd >= 0) {
        const char byte = 's';
        // Nothing to do when the pipe is full: a wake-up is already pending.
        [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
    }
}

void SetAction(int number, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(number, &action, nullptr);
}

} // namespace

void Install(int wakeFd) {
    g_wakeFd = wakeFd;
    for (int i = 0; i < kHandledCount; ++i) {
        struct sigaction action {};
        action.sa_handler = Record;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(kHandled[i], &action, &g_previous[i]);
    }
    g_installed = true;
}

void Restore() {
    if (!g_installed) {
        return;
    }
    for (int i = 0; i < kHandledCount; ++i) {
        sigaction(kHandled[i], &g_previous[i], nullptr);
    }
    g_installed = false;
    g_wakeFd = -1;
}

void ProtectDownload(bool on) {
    if (!g_installed) {
        return;
    }
    for (const int number : {SIGINT, SIGQUIT, SIGTERM}) {
        SetAction(number, on ? SIG_IGN : Record);
    }
}

void BlockInThisThread() {
    sigset_t set;
    sigemptyset(&set);
    for (const int number : kHandled) {
        sigaddset(&set, number);
    }
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

Pending Take() {
    Pending pending;
    pending.interrupt = g_interrupt != 0;
    pending.hangup = g_hangup != 0;
    pending.resize = g_resize != 0;
    g_interrupt = 0;
    g_resize = 0;
    // A hang-up is for ever: the terminal does not come back.
    return pending;
}

} // namespace fw::tui::signals

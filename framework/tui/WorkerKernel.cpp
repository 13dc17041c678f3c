#include "framework/tui/WorkerKernel.h"

#include "framework/tui/Signals.h"

namespace fw::tui {

void WorkerKernel::Changed(int live) {
    if (m_listener) {
        m_listener(live);
    }
}

bool WorkerKernel::StartThread(std::function<void()> body, int priority) {
    Changed(++m_live);
    const bool started = m_inner.StartThread(
        [this, work = std::move(body)] {
            signals::BlockInThisThread();
            work();
            Changed(--m_live);
        },
        priority);
    if (!started) {
        Changed(--m_live);
    }
    return started;
}

} // namespace fw::tui

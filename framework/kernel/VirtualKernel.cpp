#include "framework/kernel/VirtualKernel.h"

#include <algorithm>
#include <limits>
#include <thread>

namespace fw {

struct VirtualKernel::Waiter {
    Event* event;           // may be null: a plain sleep
    std::uint64_t deadline; // max(): no time-out
};

namespace {
constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
}

VirtualKernel::VirtualKernel() = default;

VirtualKernel::~VirtualKernel() { JoinThreads(); }

void VirtualKernel::JoinThreads() {
    std::unique_lock lock(m_mutex);
    // The joining thread counts as blocked while it waits, so the workers' clock can move.
    --m_running;
    AdvanceIfIdle();
    m_changed.wait(lock, [this] {
        if (m_threadsAlive == 0) {
            return true;
        }
        AdvanceIfIdle();
        return false;
    });
    ++m_running;
}

bool VirtualKernel::AnyWaiterCanWake() const {
    return std::any_of(m_waiters.begin(), m_waiters.end(), [this](const Waiter* waiter) {
        return (waiter->event != nullptr && waiter->event->signalled) || waiter->deadline <= m_now;
    });
}

void VirtualKernel::AdvanceIfIdle() {
    if (m_running > 0 || m_waiters.empty() || AnyWaiterCanWake()) {
        return;
    }
    std::uint64_t next = kNever;
    for (const Waiter* waiter : m_waiters) {
        next = std::min(next, waiter->deadline);
    }
    if (next == kNever) {
        m_deadlocked = true;
    } else {
        m_now = next;
    }
    m_changed.notify_all();
}

DWORD VirtualKernel::Wait(std::unique_lock<std::mutex>& lock, Event* event, DWORD milliseconds) {
    Waiter self{event, milliseconds == INFINITE ? kNever : m_now + milliseconds};
    m_waiters.push_back(&self);
    --m_running;
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (event != nullptr && event->signalled) {
            if (!event->manualReset) {
                event->signalled = false;
            }
            result = WAIT_OBJECT_0;
            break;
        }
        if (self.deadline <= m_now) {
            result = WAIT_TIMEOUT;
            break;
        }
        if (m_deadlocked) {
            result = WAIT_FAILED;
            break;
        }
        AdvanceIfIdle();
        if (self.deadline <= m_now || m_deadlocked || (event != nullptr && event->signalled)) {
            continue;
        }
        m_changed.wait(lock);
    }
    ++m_running;
    m_waiters.erase(std::find(m_waiters.begin(), m_waiters.end(), &self));
    return result;
}

void VirtualKernel::Sleep(DWORD milliseconds) {
    std::unique_lock lock(m_mutex);
    if (milliseconds == 0) {
        return;
    }
    Wait(lock, nullptr, milliseconds);
}

HANDLE VirtualKernel::CreateEvent(BOOL manualReset, BOOL initialState) {
    std::lock_guard lock(m_mutex);
    if (m_failEvents) {
        return nullptr;
    }
    m_events.push_back(std::make_unique<Event>(Event{manualReset != FALSE, initialState != FALSE}));
    return m_events.back().get();
}

VirtualKernel::Event* VirtualKernel::Find(HANDLE handle) {
    for (const auto& event : m_events) {
        if (event.get() == handle) {
            return event.get();
        }
    }
    return nullptr;
}

BOOL VirtualKernel::SetEvent(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    Event* event = Find(handle);
    if (event == nullptr) {
        return FALSE;
    }
    event->signalled = true;
    m_changed.notify_all();
    return TRUE;
}

BOOL VirtualKernel::ResetEvent(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    Event* event = Find(handle);
    if (event == nullptr) {
        return FALSE;
    }
    event->signalled = false;
    return TRUE;
}

DWORD VirtualKernel::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    std::unique_lock lock(m_mutex);
    Event* event = Find(handle);
    if (event == nullptr) {
        return WAIT_FAILED;
    }
    return Wait(lock, event, milliseconds);
}

bool VirtualKernel::StartThread(std::function<void()> body, int priority) {
    {
        std::lock_guard lock(m_mutex);
        if (m_failThreads) {
            return false;
        }
        m_priorities.push_back(priority);
        // Counted as running from now, so the clock cannot move before the thread starts.
        ++m_running;
        ++m_threadsAlive;
    }
    std::thread([this, work = std::move(body)]() mutable {
        work();
        work = nullptr;
        std::lock_guard lock(m_mutex);
        --m_running;
        --m_threadsAlive;
        AdvanceIfIdle();
        m_changed.notify_all();
    }).detach();
    return true;
}

std::uint64_t VirtualKernel::TickCount() {
    std::lock_guard lock(m_mutex);
    return m_now;
}

void VirtualKernel::FailEventCreation(bool fail) {
    std::lock_guard lock(m_mutex);
    m_failEvents = fail;
}

void VirtualKernel::FailThreadStart(bool fail) {
    std::lock_guard lock(m_mutex);
    m_failThreads = fail;
}

std::vector<int> VirtualKernel::StartedThreadPriorities() {
    std::lock_guard lock(m_mutex);
    return m_priorities;
}

bool VirtualKernel::Deadlocked() {
    std::lock_guard lock(m_mutex);
    return m_deadlocked;
}

} // namespace fw

#include "framework/kernel/RealKernel.h"

#include <chrono>
#include <condition_variable>
#include <thread>

namespace fw {

struct RealKernel::Event {
    bool manualReset;
    bool signalled;
    std::mutex mutex;
    std::condition_variable changed;
};

RealKernel::RealKernel() = default;
RealKernel::~RealKernel() = default;

void RealKernel::Sleep(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

HANDLE RealKernel::CreateEvent(BOOL manualReset, BOOL initialState) {
    auto event = std::make_unique<Event>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    std::lock_guard lock(m_mutex);
    m_events.push_back(std::move(event));
    return m_events.back().get();
}

RealKernel::Event* RealKernel::Find(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    for (const auto& event : m_events) {
        if (event.get() == handle) {
            return event.get();
        }
    }
    return nullptr;
}

BOOL RealKernel::SetEvent(HANDLE handle) {
    Event* event = Find(handle);
    if (event == nullptr) {
        return FALSE;
    }
    {
        std::lock_guard lock(event->mutex);
        event->signalled = true;
    }
    event->changed.notify_all();
    return TRUE;
}

BOOL RealKernel::ResetEvent(HANDLE handle) {
    Event* event = Find(handle);
    if (event == nullptr) {
        return FALSE;
    }
    std::lock_guard lock(event->mutex);
    event->signalled = false;
    return TRUE;
}

DWORD RealKernel::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    Event* event = Find(handle);
    if (event == nullptr) {
        return WAIT_FAILED;
    }
    std::unique_lock lock(event->mutex);
    const auto isSignalled = [event] { return event->signalled; };
    bool signalled = false;
    if (milliseconds == INFINITE) {
        event->changed.wait(lock, isSignalled);
        signalled = true;
    } else {
        signalled =
            event->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), isSignalled);
    }
    if (!signalled) {
        return WAIT_TIMEOUT;
    }
    if (!event->manualReset) {
        event->signalled = false;
    }
    return WAIT_OBJECT_0;
}

bool RealKernel::StartThread(std::function<void()> body, int priority) {
    (void)priority; // the standard library has no portable thread priority
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

std::uint64_t RealKernel::TickCount() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace fw

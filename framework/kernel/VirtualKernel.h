// The kernel services in virtual time, for tests: sleeps and timed waits take no real time.
//
// The clock moves only when every thread the kernel knows (the thread that made the kernel
// and every thread it started) is blocked in one of its waits and none of those waits can
// end at the current time; it then jumps to the earliest deadline. A run of 150 two-second
// sleeps therefore finishes at once, and the time that passed can be asserted exactly.
// Every wait the program makes must go through this kernel, or the clock cannot move.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Platform.h"

namespace fw {

class VirtualKernel final : public Kernel {
public:
    VirtualKernel();
    // Waits for every thread the kernel started to end.
    ~VirtualKernel() override;
    VirtualKernel(const VirtualKernel&) = delete;
    VirtualKernel& operator=(const VirtualKernel&) = delete;

    void Sleep(DWORD milliseconds) override;
    HANDLE CreateEvent(BOOL manualReset, BOOL initialState) override;
    BOOL SetEvent(HANDLE event) override;
    BOOL ResetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) override;
    bool StartThread(std::function<void()> body, int priority) override;
    std::uint64_t TickCount() override;

    // Test knobs: make the next calls fail as an exhausted system would.
    void FailEventCreation(bool fail);
    void FailThreadStart(bool fail);

    // Priorities of the threads started so far, in order.
    std::vector<int> StartedThreadPriorities();
    // Blocks (in real time) until every thread the kernel started has ended.
    void JoinThreads();
    // Set when every thread was blocked with no deadline: the program would hang for ever.
    // The waits then end as failed so that the test can see it instead of hanging.
    bool Deadlocked();

private:
    struct Event {
        bool manualReset;
        bool signalled;
    };
    struct Waiter;
    DWORD Wait(std::unique_lock<std::mutex>& lock, Event* event, DWORD milliseconds);
    bool AnyWaiterCanWake() const;
    void AdvanceIfIdle();
    Event* Find(HANDLE handle);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::uint64_t m_now = 0;
    int m_running = 1; // the creating thread
    int m_threadsAlive = 0;
    bool m_deadlocked = false;
    bool m_failEvents = false;
    bool m_failThreads = false;
    std::vector<std::unique_ptr<Event>> m_events;
    std::vector<Waiter*> m_waiters;
    std::vector<int> m_priorities;
};

} // namespace fw

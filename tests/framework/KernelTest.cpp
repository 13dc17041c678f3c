// The virtual-time kernel: time moves only when every thread waits, and exactly to the
// next deadline.
#include <gtest/gtest.h>

#include <atomic>

#include "framework/kernel/RealKernel.h"
#include "framework/kernel/VirtualKernel.h"

namespace {

using fw::HANDLE;
using fw::VirtualKernel;

TEST(VirtualKernel, SleepsTakeNoRealTimeAndAddUpExactly) {
    VirtualKernel kernel;
    for (int i = 0; i < 150; ++i)
        kernel.Sleep(2000);
    EXPECT_EQ(kernel.TickCount(), 300000u);
}

TEST(VirtualKernel, TimedWaitEndsAtItsDeadlineOrAtTheSignal) {
    VirtualKernel kernel;
    HANDLE event = kernel.CreateEvent(TRUE, FALSE);
    EXPECT_EQ(kernel.WaitForSingleObject(event, 100), static_cast<fw::DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(kernel.TickCount(), 100u);

    // A worker signals after sleeping 250 ms; a 1000 ms wait ends then, not later.
    ASSERT_TRUE(kernel.StartThread(
        [&] {
            kernel.Sleep(250);
            kernel.SetEvent(event);
        },
        THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(kernel.WaitForSingleObject(event, 1000), static_cast<fw::DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(kernel.TickCount(), 350u);
    EXPECT_EQ(kernel.WaitForSingleObject(event, 0), static_cast<fw::DWORD>(WAIT_OBJECT_0))
        << "manual reset";
    kernel.ResetEvent(event);
    EXPECT_EQ(kernel.WaitForSingleObject(event, 0), static_cast<fw::DWORD>(WAIT_TIMEOUT));
    kernel.JoinThreads();
    EXPECT_EQ(kernel.StartedThreadPriorities(), (std::vector<int>{THREAD_PRIORITY_HIGHEST}));
}

TEST(VirtualKernel, AutoResetEventsWakeOneWaitAndUnknownHandlesFail) {
    VirtualKernel kernel;
    HANDLE event = kernel.CreateEvent(FALSE, TRUE);
    EXPECT_EQ(kernel.WaitForSingleObject(event, 0), static_cast<fw::DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(kernel.WaitForSingleObject(event, 0), static_cast<fw::DWORD>(WAIT_TIMEOUT));
    int notAnEvent = 0;
    EXPECT_EQ(kernel.WaitForSingleObject(&notAnEvent, 10), static_cast<fw::DWORD>(WAIT_FAILED));
    EXPECT_FALSE(kernel.SetEvent(&notAnEvent));
}

TEST(VirtualKernel, TheClockWaitsForARunningThread) {
    VirtualKernel kernel;
    std::atomic<bool> busy{true};
    std::atomic<std::uint64_t> seenByWorker{0};
    ASSERT_TRUE(kernel.StartThread(
        [&] {
            // Real work, no waits: the main thread's sleep cannot end before this does.
            while (busy.load()) {
            }
            seenByWorker = kernel.TickCount();
        },
        0));
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        busy = false;
    });
    kernel.Sleep(500);
    release.join();
    kernel.JoinThreads();
    EXPECT_EQ(seenByWorker.load(), 0u);
    EXPECT_EQ(kernel.TickCount(), 500u);
}

TEST(VirtualKernel, AWaitThatCanNeverEndIsReportedInsteadOfHanging) {
    VirtualKernel kernel;
    HANDLE event = kernel.CreateEvent(TRUE, FALSE);
    EXPECT_EQ(kernel.WaitForSingleObject(event, INFINITE), static_cast<fw::DWORD>(WAIT_FAILED));
    EXPECT_TRUE(kernel.Deadlocked());
}

TEST(VirtualKernel, FailureKnobs) {
    VirtualKernel kernel;
    kernel.FailEventCreation(true);
    EXPECT_EQ(kernel.CreateEvent(TRUE, FALSE), nullptr);
    kernel.FailThreadStart(true);
    bool ran = false;
    EXPECT_FALSE(kernel.StartThread([&] { ran = true; }, 0));
    kernel.JoinThreads();
    EXPECT_FALSE(ran);
}

TEST(RealKernel, EventsAndTimedWaits) {
    fw::RealKernel kernel;
    HANDLE event = kernel.CreateEvent(TRUE, FALSE);
    EXPECT_EQ(kernel.WaitForSingleObject(event, 1), static_cast<fw::DWORD>(WAIT_TIMEOUT));
    std::atomic<bool> done{false};
    ASSERT_TRUE(kernel.StartThread(
        [&] {
            kernel.SetEvent(event);
            done = true;
        },
        THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(kernel.WaitForSingleObject(event, INFINITE), static_cast<fw::DWORD>(WAIT_OBJECT_0));
    while (!done.load()) {
        std::this_thread::yield();
    }
}

} // namespace

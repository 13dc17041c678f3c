// The real-time kernel with its worker threads counted: the terminal backend must know
// when a firmware download is running (signals ignored, the program may not end) and when
// the last worker has finished.
#pragma once

#include <atomic>
#include <functional>

#include "framework/Platform.h"

namespace fw::tui {

class WorkerKernel final : public Kernel {
public:
    explicit WorkerKernel(Kernel& inner) : m_inner(inner) {}
    WorkerKernel(const WorkerKernel&) = delete;
    WorkerKernel& operator=(const WorkerKernel&) = delete;

    // Called with the new number of live workers each time it changes, on the thread that
    // changed it: the starting thread for 0 -> 1, the worker itself as it ends. Set before
    // the first thread starts.
    void OnWorkersChanged(std::function<void(int live)> listener) {
        m_listener = std::move(listener);
    }
    int LiveWorkers() const { return m_live.load(); }

    void Sleep(DWORD milliseconds) override { m_inner.Sleep(milliseconds); }
    HANDLE CreateEvent(BOOL manualReset, BOOL initialState) override {
        return m_inner.CreateEvent(manualReset, initialState);
    }
    BOOL SetEvent(HANDLE event) override { return m_inner.SetEvent(event); }
    BOOL ResetEvent(HANDLE event) override { return m_inner.ResetEvent(event); }
    DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) override {
        return m_inner.WaitForSingleObject(event, milliseconds);
    }
    // The worker counts as live from before it starts until body has returned, so a
    // download is protected from its first instruction to its last message box.
    bool StartThread(std::function<void()> body, int priority) override;
    std::uint64_t TickCount() override { return m_inner.TickCount(); }

private:
    void Changed(int live);
    Kernel& m_inner;
    std::atomic<int> m_live{0};
    std::function<void(int)> m_listener;
};

} // namespace fw::tui

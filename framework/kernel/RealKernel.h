// The kernel services in real time, for the programs operators run.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "framework/Platform.h"

namespace fw {

class RealKernel final : public Kernel {
public:
    RealKernel();
    ~RealKernel() override;
    RealKernel(const RealKernel&) = delete;
    RealKernel& operator=(const RealKernel&) = delete;

    void Sleep(DWORD milliseconds) override;
    HANDLE CreateEvent(BOOL manualReset, BOOL initialState) override;
    BOOL SetEvent(HANDLE event) override;
    BOOL ResetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) override;
    bool StartThread(std::function<void()> body, int priority) override;
    std::uint64_t TickCount() override;

private:
    struct Event;
    Event* Find(HANDLE handle);
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Event>> m_events;
};

} // namespace fw

// The kernel services on the Win32 kernel objects: events, waits, sleeps and threads whose
// priority the scheduler really honours.
#pragma once

#include <mutex>
#include <vector>

#include "framework/Platform.h"

namespace fw::win32 {

class Win32Kernel final : public Kernel {
public:
    Win32Kernel() = default;
    // Closes every event it made.
    ~Win32Kernel() override;
    Win32Kernel(const Win32Kernel&) = delete;
    Win32Kernel& operator=(const Win32Kernel&) = delete;

    void Sleep(DWORD milliseconds) override;
    HANDLE CreateEvent(BOOL manualReset, BOOL initialState) override;
    BOOL SetEvent(HANDLE event) override;
    BOOL ResetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE event, DWORD milliseconds) override;
    bool StartThread(std::function<void()> body, int priority) override;
    std::uint64_t TickCount() override;

private:
    bool IsEvent(HANDLE handle);
    std::mutex m_mutex;
    std::vector<HANDLE> m_events;
};

} // namespace fw::win32

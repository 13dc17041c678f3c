#include "framework/win32/Win32Native.h"

#include <process.h>

#include <algorithm>
#include <memory>

#include "framework/win32/Win32Kernel.h"

namespace fw::win32 {
namespace {

// noexcept: an exception leaving the thread's body ends the program, as it would with
// std::thread, instead of unwinding into the system's thread start.
unsigned __stdcall ThreadStart(void* parameter) noexcept {
    const std::unique_ptr<std::function<void()>> body(
        static_cast<std::function<void()>*>(parameter));
    (*body)();
    return 0;
}

} // namespace

Win32Kernel::~Win32Kernel() {
    for (HANDLE event : m_events) {
        ::CloseHandle(event);
    }
}

void Win32Kernel::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

HANDLE Win32Kernel::CreateEvent(BOOL manualReset, BOOL initialState) {
    ::HANDLE event = ::CreateEventA(nullptr, manualReset, initialState, nullptr);
    if (event == nullptr) {
        return nullptr;
    }
    std::lock_guard lock(m_mutex);
    m_events.push_back(event);
    return event;
}

bool Win32Kernel::IsEvent(HANDLE handle) {
    std::lock_guard lock(m_mutex);
    return std::find(m_events.begin(), m_events.end(), handle) != m_events.end();
}

BOOL Win32Kernel::SetEvent(HANDLE event) { return IsEvent(event) ? ::SetEvent(event) : FALSE; }

BOOL Win32Kernel::ResetEvent(HANDLE event) { return IsEvent(event) ? ::ResetEvent(event) : FALSE; }

DWORD Win32Kernel::WaitForSingleObject(HANDLE event, DWORD milliseconds) {
    if (!IsEvent(event)) {
        return WAIT_FAILED;
    }
    return ::WaitForSingleObject(event, milliseconds);
}

bool Win32Kernel::StartThread(std::function<void()> body, int priority) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    // Started suspended so that the body never runs at the wrong priority.
    const std::uintptr_t thread =
        ::_beginthreadex(nullptr, 0, ThreadStart, owned.get(), CREATE_SUSPENDED, nullptr);
    if (thread == 0) {
        return false;
    }
    // The thread owns the body now: ThreadStart deletes it.
    static_cast<void>(owned.release());
    auto* handle = reinterpret_cast<::HANDLE>(thread);
    ::SetThreadPriority(handle, priority);
    ::ResumeThread(handle);
    ::CloseHandle(handle);
    return true;
}

std::uint64_t Win32Kernel::TickCount() { return ::GetTickCount64(); }

} // namespace fw::win32

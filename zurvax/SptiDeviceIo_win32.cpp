#include "zurvax/SptiTransport_win32.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>

namespace zurvax {

DeviceHandle::DeviceHandle(DeviceHandle&& other) noexcept
    : io_(std::exchange(other.io_, nullptr)),
      value_(std::exchange(other.value_, kInvalidDeviceHandle)) {}

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
        reset();
        io_ = std::exchange(other.io_, nullptr);
        value_ = std::exchange(other.value_, kInvalidDeviceHandle);
    }
    return *this;
}

void DeviceHandle::reset() {
    if (valid())
        io_->close(value_);
    io_ = nullptr;
    value_ = kInvalidDeviceHandle;
}

namespace {

class Win32DeviceIo final : public DeviceIo {
public:
    DeviceHandleValue open(const std::string& path, bool readWrite) override {
        const HANDLE handle =
            ::CreateFileA(path.c_str(), readWrite ? GENERIC_READ | GENERIC_WRITE : 0,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        return reinterpret_cast<DeviceHandleValue>(handle);
    }

    DeviceHandleValue openExclusive(const std::string& path) override {
        const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
        return reinterpret_cast<DeviceHandleValue>(handle);
    }

    bool control(DeviceHandleValue handle, std::uint32_t code, void* in, std::uint32_t inSize,
                 void* out, std::uint32_t outSize, std::uint32_t& returned) override {
        DWORD count = 0;
        const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(handle), code, in, inSize, out,
                                          outSize, &count, nullptr);
        returned = count;
        return ok != FALSE;
    }

    void close(DeviceHandleValue handle) override {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle));
    }

    std::uint32_t lastError() override { return ::GetLastError(); }
};

} // namespace

std::unique_ptr<DeviceIo> MakeWin32DeviceIo() { return std::make_unique<Win32DeviceIo>(); }

} // namespace zurvax

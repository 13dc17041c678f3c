#include <windows.h>

#include <string>
#include <vector>

#include "cli/Files.h"

namespace cli {

PrivateFolder::PrivateFolder() {
    char temporary[MAX_PATH + 1] = {};
    const ::DWORD length = ::GetTempPathA(sizeof temporary, temporary);
    if (length == 0 || length > MAX_PATH) {
        return;
    }
    // A name nobody else has: CreateDirectory fails rather than reuse a folder that exists.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string path = std::string(temporary) + "fwupgrade-" +
                                 std::to_string(::GetCurrentProcessId()) + "-" +
                                 std::to_string(::GetTickCount() + attempt);
        if (::CreateDirectoryA(path.c_str(), nullptr)) {
            m_path = path;
            return;
        }
    }
}

PrivateFolder::~PrivateFolder() {
    if (!Made()) {
        return;
    }
    for (const std::string& file : m_files) {
        ::SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(file.c_str());
    }
    ::RemoveDirectoryA(m_path.c_str());
}

std::string PrivateFolder::Adopt(const std::string& name) {
    m_files.push_back(m_path + "\\" + name);
    return m_files.back();
}

struct NewFile::Impl {
    std::string path;
    ::HANDLE handle = INVALID_HANDLE_VALUE;
    bool finished = false;
};

NewFile::NewFile(const std::string& path) : m_impl(std::make_unique<Impl>()) {
    m_impl->path = path;
    // No sharing while it is written: nobody reads a half-written file.
    m_impl->handle = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
}

NewFile::~NewFile() {
    if (m_impl->handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(m_impl->handle);
        ::DeleteFileA(m_impl->path.c_str());
    }
}

bool NewFile::Opened() const { return m_impl->handle != INVALID_HANDLE_VALUE || m_impl->finished; }

bool NewFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0 && m_impl->handle != INVALID_HANDLE_VALUE) {
        ::DWORD wrote = 0;
        const auto part = static_cast<::DWORD>(size > 0x100000 ? 0x100000 : size);
        if (!::WriteFile(m_impl->handle, bytes, part, &wrote, nullptr) || wrote == 0) {
            return false;
        }
        bytes += wrote;
        size -= wrote;
    }
    return size == 0;
}

bool NewFile::Finish() {
    if (m_impl->handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = ::FlushFileBuffers(m_impl->handle) != 0;
    const bool closed = ::CloseHandle(m_impl->handle) != 0;
    m_impl->handle = INVALID_HANDLE_VALUE;
    m_impl->finished = flushed && closed &&
                       ::SetFileAttributesA(m_impl->path.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
    if (!m_impl->finished) {
        ::DeleteFileA(m_impl->path.c_str());
    }
    return m_impl->finished;
}

} // namespace cli

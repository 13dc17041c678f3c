// Files on Windows: opened sharing reading alone, as the image must not change while it is
// sent (several downloads may read it at once).
#include <windows.h>

#include "framework/fw.h"

namespace fw {

struct CFile::Impl {
    ::HANDLE handle = INVALID_HANDLE_VALUE;
};

CFile::CFile() = default;
CFile::~CFile() { Close(); }

BOOL CFile::Open(const char* fileName, UINT flags) {
    Close();
    // Every open shares reading alone: no writer while the file is open.
    (void)flags;
    const ::DWORD share = FILE_SHARE_READ;
    ::HANDLE handle = ::CreateFileA(fileName, GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    // A pipe, a console or a device opens too; only a file on a disk is an image.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return FALSE;
    }
    m_impl = std::make_unique<Impl>();
    m_impl->handle = handle;
    return TRUE;
}

DWORD CFile::GetLength() const {
    if (!m_impl) {
        return 0;
    }
    ::LARGE_INTEGER size{};
    if (!::GetFileSizeEx(m_impl->handle, &size)) {
        return 0;
    }
    constexpr LONGLONG kLongest = 0xFFFFFFFFLL;
    return static_cast<DWORD>(size.QuadPart > kLongest ? kLongest : size.QuadPart);
}

UINT CFile::Read(void* buffer, UINT count) {
    if (!m_impl) {
        return kReadFailed;
    }
    UINT total = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (total < count) {
        ::DWORD got = 0;
        if (!::ReadFile(m_impl->handle, bytes + total, count - total, &got, nullptr)) {
            return kReadFailed;
        }
        if (got == 0) {
            break;
        }
        total += got;
    }
    return total;
}

BOOL CFile::HasChanged() const {
    // Opened sharing at most reading, the file takes no writer while it is open.
    return FALSE;
}

void CFile::Close() {
    if (m_impl) {
        ::CloseHandle(m_impl->handle);
        m_impl.reset();
    }
}

// The working folder only, as the program has always done on Windows: the installer puts the
// animation beside the program, whose Start menu entry starts it in its own folder.
CString DataFilePath(const char* name) { return name; }

} // namespace fw

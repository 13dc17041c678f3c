// Files on POSIX systems. "Exclusive" is an advisory lock held while the file is open, so
// that two copies of the program cannot download the same image at once.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "framework/fw.h"
#include "res/BuildInfo.h"

namespace fw {

struct CFile::Impl {
    int fd = -1;
};

CFile::CFile() = default;
CFile::~CFile() { Close(); }

BOOL CFile::Open(const char* fileName, UINT flags) {
    Close();
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FALSE;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return FALSE;
    }
    if ((flags & shareExclusive) != 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return FALSE;
    }
    m_impl = std::make_unique<Impl>();
    m_impl->fd = fd;
    return TRUE;
}

DWORD CFile::GetLength() const {
    struct stat info {};
    if (!m_impl || ::fstat(m_impl->fd, &info) != 0) {
        return 0;
    }
    constexpr auto kLongest = static_cast<off_t>(0xFFFFFFFFu);
    return static_cast<DWORD>(std::min(info.st_size, kLongest));
}

UINT CFile::Read(void* buffer, UINT count) {
    if (!m_impl) {
        return kReadFailed;
    }
    UINT total = 0;
    auto* bytes = static_cast<char*>(buffer);
    // A regular file may still return short counts (signals, network file systems): keep
    // reading until the count is met or the file ends.
    while (total < count) {
        const ssize_t got = ::read(m_impl->fd, bytes + total, count - total);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return kReadFailed;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<UINT>(got);
    }
    return total;
}

void CFile::Close() {
    if (m_impl) {
        ::close(m_impl->fd);
        m_impl.reset();
    }
}

CString DataFilePath(const char* name) {
    if (::access(name, F_OK) == 0) {
        return name;
    }
    return CString(std::string(FWUPGRADE_DATADIR) + "/" + name);
}

} // namespace fw

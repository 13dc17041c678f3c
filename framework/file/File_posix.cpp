// Files on POSIX systems. "Deny write" is a shared advisory lock held while the file is open,
// which keeps out writers that lock exclusively first; the others are not kept out, only
// noticed (HasChanged).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#ifdef __linux__
#include <sys/inotify.h>
#endif

#include "framework/fw.h"

namespace fw {

struct CFile::Impl {
    int fd = -1;
    int watch = -1;        // inotify descriptor watching the open file for writes, or -1
    struct stat opened {}; // as it was when opened
    ~Impl() {
        if (watch >= 0) {
            ::close(watch);
        }
        ::close(fd);
    }
};

namespace {

// Writes of any program to the open file, from now on. Watched through the descriptor's
// own name, so a file renamed or replaced meanwhile is still the one watched. -1 when the
// system cannot watch (no inotify, its limit reached): the status comparison still stands.
int WatchWrites(int fd) {
#ifdef __linux__
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0) {
        return -1;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (::inotify_add_watch(watch, self.c_str(), IN_MODIFY) < 0) {
        ::close(watch);
        return -1;
    }
    return watch;
#else
    (void)fd;
    return -1;
#endif
}

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

CFile::CFile() = default;
CFile::~CFile() { Close(); }

BOOL CFile::Open(const char* fileName, UINT flags) {
    Close();
    // Without O_NONBLOCK the open of a FIFO waits for a writer that may never come: open
    // without waiting, refuse what is not a regular file, then read as usual.
    const int fd = ::open(fileName, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return FALSE;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return FALSE;
    }
    if ((flags & shareDenyWrite) != 0 && ::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(fd);
        return FALSE;
    }
    m_impl = std::make_unique<Impl>();
    m_impl->fd = fd;
    m_impl->opened = info;
    if ((flags & shareDenyWrite) != 0) {
        m_impl->watch = WatchWrites(fd);
    }
    return TRUE;
}

BOOL CFile::HasChanged() const {
    if (!m_impl) {
        return FALSE;
    }
    // A write of another program shows as an event; a write through a shared mapping does
    // not, but moves the modification and change times (not always: they tick coarsely).
    char events[4096];
    if (m_impl->watch >= 0 && ::read(m_impl->watch, events, sizeof events) > 0) {
        return TRUE;
    }
    struct stat now {};
    if (::fstat(m_impl->fd, &now) != 0) {
        return TRUE;
    }
    const struct stat& then = m_impl->opened;
    return now.st_size != then.st_size || !SameTime(now.st_mtim, then.st_mtim) ||
                   !SameTime(now.st_ctim, then.st_ctim)
               ? TRUE
               : FALSE;
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

void CFile::Close() { m_impl.reset(); }

CString DataFilePath(const char* name) {
    if (::access(name, F_OK) == 0) {
        return name;
    }
    return CString(std::string(FWUPGRADE_DATADIR) + "/" + name);
}

} // namespace fw

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "cli/Files.h"

namespace cli {

PrivateFolder::PrivateFolder() {
    const char* temporary = std::getenv("TMPDIR");
    std::string pattern =
        std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
        "/fwupgrade-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkdtemp makes the folder 0700: nobody else can put or swap a file in it.
    if (::mkdtemp(name.data()) != nullptr) {
        m_path = name.data();
    }
}

PrivateFolder::~PrivateFolder() {
    if (!Made()) {
        return;
    }
    for (const std::string& file : m_files) {
        ::unlink(file.c_str());
    }
    ::rmdir(m_path.c_str());
}

std::string PrivateFolder::Adopt(const std::string& name) {
    m_files.push_back(m_path + "/" + name);
    return m_files.back();
}

struct NewFile::Impl {
    std::string path;
    int fd = -1;
    bool created = false;
    bool finished = false;
};

NewFile::NewFile(const std::string& path) : m_impl(std::make_unique<Impl>()) {
    m_impl->path = path;
    m_impl->fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    m_impl->created = m_impl->fd >= 0;
}

NewFile::~NewFile() {
    if (m_impl->fd >= 0) {
        ::close(m_impl->fd);
    }
    if (m_impl->created && !m_impl->finished) {
        ::unlink(m_impl->path.c_str());
    }
}

bool NewFile::Opened() const { return m_impl->created; }

bool NewFile::Write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0 && m_impl->fd >= 0) {
        const ssize_t wrote = ::write(m_impl->fd, bytes, size);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        bytes += wrote;
        size -= static_cast<std::size_t>(wrote);
    }
    return size == 0;
}

bool NewFile::Finish(bool readOnly) {
    if (m_impl->fd < 0) {
        return false;
    }
    const bool synced =
        ::fsync(m_impl->fd) == 0 && ::fchmod(m_impl->fd, readOnly ? 0400 : 0644) == 0;
    const bool closed = ::close(m_impl->fd) == 0;
    m_impl->fd = -1;
    m_impl->finished = synced && closed;
    return m_impl->finished;
}

PathKind KindOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno == ENOENT ? PathKind::Absent : PathKind::Other;
    }
    return S_ISREG(info.st_mode) ? PathKind::Regular : PathKind::Other;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool ReplaceWith(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(FolderOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    const std::string parent = FolderOf(path);
    if (parent != path && parent != "." && !MakeFolders(parent)) {
        return false;
    }
    return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

bool AppendDurably(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    bool made = false;
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        made = fd >= 0;
    }
    if (fd < 0) {
        return false;
    }
    // O_APPEND alone keeps lines whole on a local disk; the lock keeps them whole on the
    // file systems where it does not (NFS).
    ::flock(fd, LOCK_EX);
    ssize_t wrote = -1;
    do {
        wrote = ::write(fd, text.data(), text.size());
    } while (wrote < 0 && errno == EINTR);
    bool kept = wrote == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    kept = ::close(fd) == 0 && kept;
    if (made) {
        const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        kept = folder >= 0 && ::fsync(folder) == 0 && kept;
        if (folder >= 0) {
            ::close(folder);
        }
    }
    return kept;
}

std::string DefaultStateFolder() {
    if (::geteuid() == 0) {
        return "/var/lib/fwupgrade";
    }
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') {
        return std::string(state) + "/fwupgrade";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return std::string(home) + "/.local/state/fwupgrade";
    }
    return {};
}

char PathSeparator() { return '/'; }

} // namespace cli

#include <fcntl.h>
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

bool NewFile::Finish() {
    if (m_impl->fd < 0) {
        return false;
    }
    const bool synced = ::fsync(m_impl->fd) == 0 && ::fchmod(m_impl->fd, 0400) == 0;
    const bool closed = ::close(m_impl->fd) == 0;
    m_impl->fd = -1;
    m_impl->finished = synced && closed;
    return m_impl->finished;
}

} // namespace cli

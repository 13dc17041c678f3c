#include <windows.h>

#include <cstdlib>
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

bool NewFile::Finish(bool readOnly) {
    if (m_impl->handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool flushed = ::FlushFileBuffers(m_impl->handle) != 0;
    const bool closed = ::CloseHandle(m_impl->handle) != 0;
    m_impl->handle = INVALID_HANDLE_VALUE;
    m_impl->finished =
        flushed && closed &&
        (!readOnly || ::SetFileAttributesA(m_impl->path.c_str(), FILE_ATTRIBUTE_READONLY) != 0);
    if (!m_impl->finished) {
        ::DeleteFileA(m_impl->path.c_str());
    }
    return m_impl->finished;
}

PathKind KindOf(const std::string& path) {
    const ::DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const ::DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::Absent
                                                                              : PathKind::Other;
    }
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0
               ? PathKind::Regular
               : PathKind::Other;
}

namespace {
bool Identify(const std::string& path, ::BY_HANDLE_FILE_INFORMATION& info) {
    const ::HANDLE handle =
        ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const bool known = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    return known;
}
} // namespace

bool SameFile(const std::string& a, const std::string& b) {
    ::BY_HANDLE_FILE_INFORMATION first{};
    ::BY_HANDLE_FILE_INFORMATION second{};
    return Identify(a, first) && Identify(b, second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool ReplaceWith(const std::string& from, const std::string& to) {
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

std::string FolderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\:");
    if (slash == std::string::npos) {
        return ".";
    }
    // A root ("\\", "C:\\") or a drive's own folder ("C:") keeps its last character.
    const bool root = path[slash] == ':' || slash == 0 || (slash == 2 && path[1] == ':');
    return path.substr(0, root ? slash + 1 : slash);
}

bool MakeFolders(const std::string& path) {
    if (path.empty()) {
        return false;
    }
    const ::DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
    const std::string parent = FolderOf(path);
    if (parent != path && parent != "." && !MakeFolders(parent)) {
        return false;
    }
    return ::CreateDirectoryA(path.c_str(), nullptr) != 0 ||
           ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool AppendDurably(const std::string& path, const std::string& text) {
    // FILE_APPEND_DATA alone: every write goes to the end as one piece, whoever else appends.
    const ::HANDLE handle =
        ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::DWORD wrote = 0;
    bool kept =
        ::WriteFile(handle, text.data(), static_cast<::DWORD>(text.size()), &wrote, nullptr) != 0 &&
        wrote == text.size() && ::FlushFileBuffers(handle) != 0;
    kept = ::CloseHandle(handle) != 0 && kept;
    return kept;
}

std::string DefaultStateFolder() {
    const char* data = std::getenv("ProgramData");
    if (data == nullptr || data[0] == '\0') {
        return {};
    }
    return std::string(data) + "\\fwupgrade";
}

char PathSeparator() { return '\\'; }

} // namespace cli

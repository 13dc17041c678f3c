// Files the unattended commands write: the run's private copy of the image, and documents
// that must be whole or absent. What the framework's CFile does not do (it only reads).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace cli {

// A new folder that only this user may write, in the system's folder for temporary files;
// removed, with the files made in it through NewFile, when destroyed.
class PrivateFolder {
public:
    PrivateFolder();
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    bool Made() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }
    // Names a file of the folder to remove with it.
    std::string Adopt(const std::string& name);

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

// A file made anew (never one that exists), written, then kept read-only. Finish reports
// whether every byte reached the disk; a file not finished is removed when destroyed.
class NewFile {
public:
    explicit NewFile(const std::string& path);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    bool Opened() const;
    bool Write(const void* data, std::size_t size);
    // Flushes to the disk, makes the file read-only and closes it.
    bool Finish();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace cli

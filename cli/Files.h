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
    // Flushes to the disk, makes the file read-only (unless told otherwise) and closes it.
    bool Finish(bool readOnly = true);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// What is at path: nothing, a regular file, or something else (a device, a pipe, a folder).
enum class PathKind { Absent, Regular, Other };
PathKind KindOf(const std::string& path);

// True when both paths name one existing file, through whatever links or spellings.
bool SameFile(const std::string& a, const std::string& b);

// Puts the finished file from in place of to, in one step: a reader finds the old file or
// the new one, never a part. Both in one folder.
bool ReplaceWith(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);

// The folder path names its file in ("." for a bare name).
std::string FolderOf(const std::string& path);

// Makes the folder and any of its parents that are missing; true when it is there after.
bool MakeFolders(const std::string& path);

// Adds text at the end of the file (made if missing), in one write, and returns only once it
// is on the disk, with the file's name too when the file is new. Lines that processes append
// at once do not mix. False when any step fails.
bool AppendDurably(const std::string& path, const std::string& text);

// Where the program keeps its own records unless told otherwise: /var/lib/fwupgrade for root,
// else $XDG_STATE_HOME/fwupgrade or ~/.local/state/fwupgrade; %ProgramData%\fwupgrade on
// Windows. Empty when none can be named.
std::string DefaultStateFolder();
// The separator the system puts between a folder and its file.
char PathSeparator();

} // namespace cli

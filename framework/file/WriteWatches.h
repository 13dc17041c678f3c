// Writes to open files as the Linux kernel reports them (inotify), for CFile::HasChanged.
//
// One inotify instance serves the whole process and is kept until it ends: closing an
// instance makes the kernel wait for its watches to be reaped (a scheduler tick and a grace
// period, milliseconds of real time for every file opened), while removing a watch does not
// wait. Files open at once on one inode share its watch, as the kernel keeps one watch per
// inode and instance: a watch counts its users and the writes seen on it, and each file
// compares that count with the one it took when it began watching.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace fw {

class WriteWatches {
public:
    // What one open file watches: its watch and the count of writes it began from.
    struct Watched {
        int watch;
        std::uint64_t writes;
    };

    static WriteWatches& Instance();
    WriteWatches(const WriteWatches&) = delete;
    WriteWatches& operator=(const WriteWatches&) = delete;

    // Watches fd's file for writes of any program from now on; nothing when the system
    // cannot watch (no inotify, its limit reached). Each result is given back with Remove.
    std::optional<Watched> Add(int fd);
    // Whether a write reached the file since Add, or the watch can no longer tell (its
    // events were lost, or the system dropped it): either way the file may have changed.
    bool WrittenSince(const Watched& watched);
    void Remove(const Watched& watched);

private:
    WriteWatches() = default;
    ~WriteWatches();

    struct Watch {
        int watch;
        int users;
        std::uint64_t writes;
        bool lost;
    };
    Watch* Find(int watch);
    void Drain();

    std::mutex m_mutex;
    int m_inotify = -2; // -2 until first used; -1 when the system gave none
    std::vector<Watch> m_watches;
};

} // namespace fw

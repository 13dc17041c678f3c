#include "framework/file/WriteWatches.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace fw {

namespace {
constexpr int kNotMade = -2;
}

WriteWatches& WriteWatches::Instance() {
    static WriteWatches watches;
    return watches;
}

WriteWatches::~WriteWatches() {
    if (m_inotify >= 0) {
        ::close(m_inotify);
    }
}

std::optional<WriteWatches::Watched> WriteWatches::Add(int fd) {
    std::lock_guard lock(m_mutex);
    if (m_inotify == kNotMade) {
        m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    }
    if (m_inotify < 0) {
        return std::nullopt;
    }
    // Through the descriptor's own name, so a file renamed or replaced meanwhile is still
    // the one watched.
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    const int wd = ::inotify_add_watch(m_inotify, self.c_str(), IN_MODIFY);
    if (wd < 0) {
        return std::nullopt;
    }
    // Events still queued on a watch that another open file shares came before this one.
    Drain();
    Watch* watch = Find(wd);
    if (watch == nullptr) {
        m_watches.push_back(Watch{wd, 0, 0, false});
        watch = &m_watches.back();
    }
    ++watch->users;
    return Watched{wd, watch->writes};
}

bool WriteWatches::WrittenSince(const Watched& watched) {
    std::lock_guard lock(m_mutex);
    Drain();
    const Watch* watch = Find(watched.watch);
    return watch == nullptr || watch->lost || watch->writes != watched.writes;
}

void WriteWatches::Remove(const Watched& watched) {
    std::lock_guard lock(m_mutex);
    Watch* watch = Find(watched.watch);
    if (watch == nullptr || --watch->users > 0) {
        return;
    }
    if (!watch->lost) {
        ::inotify_rm_watch(m_inotify, watch->watch);
    }
    m_watches.erase(m_watches.begin() + (watch - m_watches.data()));
}

WriteWatches::Watch* WriteWatches::Find(int watch) {
    for (Watch& candidate : m_watches) {
        if (candidate.watch == watch) {
            return &candidate;
        }
    }
    return nullptr;
}

// Counts every queued event against its watch. The kernel does not give a watch's number
// again while the instance lives, so an event of a watch already removed matches none.
void WriteWatches::Drain() {
    alignas(inotify_event) char events[4096];
    for (;;) {
        const ssize_t got = ::read(m_inotify, events, sizeof events);
        if (got <= 0) {
            return;
        }
        const auto end = static_cast<std::size_t>(got);
        for (std::size_t at = 0; at + sizeof(inotify_event) <= end;) {
            inotify_event event{};
            std::memcpy(&event, events + at, sizeof event);
            at += sizeof event + event.len;
            if ((event.mask & IN_Q_OVERFLOW) != 0) {
                for (Watch& watch : m_watches) {
                    watch.lost = true;
                }
            } else if (Watch* watch = Find(event.wd)) {
                ++watch->writes;
                watch->lost = watch->lost || (event.mask & IN_IGNORED) != 0;
            }
        }
    }
}

} // namespace fw

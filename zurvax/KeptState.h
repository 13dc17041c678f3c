// What emulated drives keep across runs in the state file an emulation file names
// (zurvax/EmulationConfig.h, "state_file"): the firmware revision each drive holds, by serial
// number. The file is JSON,
//   { "drives": { "<serial>": { "revision": "<4 characters>" } } }
// and keeps drives the emulation file no longer describes.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <variant>

#include "zurvax/EmulationConfig.h"

namespace zurvax {

struct KeptState {
    std::map<std::string, std::string> revisions;
};

using KeptStateOutcome = std::variant<KeptState, ConfigError>;

// The state at path: empty when there is no file yet (a first run), an error naming the
// file when it cannot be read or is not what SaveKeptState writes.
KeptStateOutcome LoadKeptState(const std::string& path);
// Writes state to a temporary file beside path, flushed to the disk, and renames it over
// path, so that a crash leaves the old file or the new one, never a part. Empty on success,
// else why not.
std::string SaveKeptState(const std::string& path, const KeptState& state);

// How a change of the state file ended.
enum class KeptStateWrite {
    Written,     // the file holds the change
    LockHeld,    // another holder kept the lock all the time allowed: nothing was touched
    LockFailed,  // the lock file could not be opened or locked
    ReadFailed,  // the file on the disk could not be read; it was left as it is
    WriteFailed, // the new file could not be written; the old one stays
};

struct KeptStateUpdate {
    KeptStateWrite result = KeptStateWrite::Written;
    std::string message; // empty when written, else one line naming the file
};

// The state file's lock, which every writer of the file takes: an exclusive advisory lock
// (flock on POSIX, LockFileEx on Windows) on the file path + ".lock". The system drops it
// when its holder ends, however it ends, so a lock left by a process that died is no
// obstacle and a lock that is held is never taken away. The lock file itself stays: removing
// it would let a waiter lock the old file while a newcomer locks a new one.
class KeptStateLock {
public:
    // Tries for the lock of the state file at statePath for at most patience.
    KeptStateLock(const std::string& statePath, std::chrono::milliseconds patience);
    ~KeptStateLock(); // gives the lock back
    KeptStateLock(const KeptStateLock&) = delete;
    KeptStateLock& operator=(const KeptStateLock&) = delete;

    // Written (held), LockHeld or LockFailed, with its message.
    const KeptStateUpdate& outcome() const { return outcome_; }
    bool held() const { return outcome_.result == KeptStateWrite::Written; }

private:
    std::intptr_t handle_ = -1; // the open lock file: a descriptor, or a Windows HANDLE
    KeptStateUpdate outcome_;
};

// How long an update waits for a lock that another process holds, before it gives up.
constexpr std::chrono::milliseconds kKeptStatePatience{10000};

// Sets one drive's revision in the state at path, as it is on the disk now: drives of other
// processes (one per drive, for a command line's --jobs) keep theirs in the same file, so it
// is read afresh and written under KeptStateLock, never written back from an older copy.
KeptStateUpdate UpdateKeptState(const std::string& path, const std::string& serial,
                                const std::string& revision,
                                std::chrono::milliseconds patience = kKeptStatePatience);
// Every device of config whose serial number state knows starts with the revision kept.
void ApplyKeptState(const KeptState& state, EmulationConfig& config);

} // namespace zurvax

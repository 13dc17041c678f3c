// The command ring a target_core_user (TCMU) device shares with its handler through
// /dev/uioN, walked without libtcmu: Bookworm ships only the kernel's header.
//
// The kernel owns cmd_head and the entries between cmd_tail and cmd_head; the handler owns
// cmd_tail. Each command's response is written over its own request, so a request is read
// whole (CDB, iovecs, data-out) before anything of the response is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace zurvax::tcmu {

struct RingCommand {
    std::vector<std::uint8_t> cdb;
    // Everything the entry's iovecs hold, in order: the data-out of a write, the (stale)
    // buffer contents of a read.
    std::vector<std::uint8_t> data;
    // Bytes the initiator can take back: the iovecs' total length.
    std::size_t capacity = 0;
};

struct RingReply {
    std::uint8_t status = 0;
    std::vector<std::uint8_t> sense;
    // Data-in, scattered into the iovecs; never more than capacity bytes are used.
    std::vector<std::uint8_t> dataIn;
    bool dataInCommand = false;
};

// Answers one command; returns false to leave it (and everything after it) unanswered for
// now, so that the next walk offers it again.
using RingServer = std::function<bool(const RingCommand&, RingReply&)>;

struct WalkResult {
    unsigned completed = 0; // commands answered (PAD and TMR entries are not counted)
    bool stopped = false;   // the server declined a command
    bool broken = false;    // an entry points outside the shared area; nothing more is read
};

// Walks every entry from cmd_tail to cmd_head in the shared area (mailbox at its start),
// answering commands and skipping PAD and TMR entries, advancing cmd_tail past each.
// The caller kicks the kernel when anything was completed.
WalkResult WalkRing(std::span<std::uint8_t> area, const RingServer& server);

// Length of a CDB from its operation code's group (variable-length CDBs: from byte 7).
std::size_t CdbLength(const std::uint8_t* cdb, std::size_t available);

} // namespace zurvax::tcmu

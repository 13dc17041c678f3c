// How long an OS transport lets the device take over one command, by CDB. One table for
// SG_IO and SPTI alike, so the same command waits equally long on either system.
//
// INQUIRY, TEST UNIT READY, REQUEST SENSE, READ BUFFER and WRITE BUFFER in a data mode get
// 60 s; WRITE BUFFER in a download-microcode mode (04h-07h, 0Dh-0Fh) 300 s, since the drive
// may write its flash and restart before it answers; any other CDB keeps the command's own
// time-out. The result is never longer than the command's own time-out (the transport
// contract), so INQUIRY and REQUEST SENSE stay at the library's 10 s.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "zurvax/Cdb.h"
#include "zurvax/ScsiCommand.h"

namespace zurvax {

inline constexpr std::chrono::milliseconds kPassThroughShortTimeout{60'000};
inline constexpr std::chrono::milliseconds kPassThroughMicrocodeTimeout{300'000};

constexpr bool IsDownloadMicrocodeMode(std::uint8_t mode) {
    return (mode >= 0x04 && mode <= 0x07) || (mode >= 0x0D && mode <= 0x0F);
}

inline std::chrono::milliseconds PassThroughTimeout(const ScsiCommand& command) {
    const auto cdb = command.cdb();
    std::chrono::milliseconds chosen = command.timeout();
    if (!cdb.empty()) {
        switch (cdb[0]) {
        case kOpInquiry:
        case kOpTestUnitReady:
        case kOpRequestSense:
        case kOpReadBuffer:
            chosen = kPassThroughShortTimeout;
            break;
        case kOpWriteBuffer:
            chosen = cdb.size() > 1 && IsDownloadMicrocodeMode(cdb[1] & 0x1F)
                         ? kPassThroughMicrocodeTimeout
                         : kPassThroughShortTimeout;
            break;
        default:
            break;
        }
    }
    return std::min(chosen, command.timeout());
}

} // namespace zurvax

#include "zurvax/tcmu/TcmuRing.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <optional>

#include "zurvax/tcmu/TcmuLayout.h"

namespace zurvax::tcmu {
namespace {

constexpr std::size_t kHeadOffset = ZTCMU_MAILBOX_CMD_HEAD;
constexpr std::size_t kTailOffset = ZTCMU_MAILBOX_CMD_TAIL;
constexpr std::size_t kIovOffset = ZTCMU_REQ_IOV;
constexpr std::size_t kUflagsOffset = ZTCMU_HDR_UFLAGS;
constexpr std::size_t kStatusOffset = ZTCMU_RSP_SCSI_STATUS;
constexpr std::size_t kReadLenOffset = ZTCMU_RSP_READ_LEN;
constexpr std::size_t kSenseOffset = ZTCMU_RSP_SENSE;
constexpr std::size_t kSenseSize = ZTCMU_SENSE_SIZE;

// The kernel writes cmd_head from another CPU: read it with acquire so the entry it
// publishes is seen whole, and publish cmd_tail with release after the response.
std::uint32_t LoadShared(std::uint8_t* area, std::size_t offset) {
    return std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(area + offset))
        .load(std::memory_order_acquire);
}

void StoreShared(std::uint8_t* area, std::size_t offset, std::uint32_t value) {
    std::atomic_ref<std::uint32_t>(*reinterpret_cast<std::uint32_t*>(area + offset))
        .store(value, std::memory_order_release);
}

template <typename T> T ReadAt(const std::uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename T> void WriteAt(std::uint8_t* at, const T& value) {
    std::memcpy(at, &value, sizeof value);
}

bool Inside(std::size_t areaSize, std::uint64_t offset, std::uint64_t length) {
    return offset <= areaSize && length <= areaSize - offset;
}

struct Span {
    std::uint64_t offset;
    std::uint64_t length;
};

// A command entry read whole: what the server is handed, and where its data lies.
struct Request {
    RingCommand command;
    std::vector<Span> spans;
};

// Reads the command entry of the given length at entry; nothing when it points outside
// the shared area or is too short to take its response.
std::optional<Request> ReadRequest(std::span<std::uint8_t> area, const std::uint8_t* entry,
                                   std::uint32_t length) {
    // The response needs the whole fixed entry, whatever the request used of it.
    if (length < ZTCMU_ENTRY_SIZE) {
        return std::nullopt;
    }
    const std::uint8_t* base = area.data();
    const std::size_t size = area.size();
    const auto iovCount = ReadAt<std::uint32_t>(entry + ZTCMU_REQ_IOV_CNT);
    const auto cdbOffset = ReadAt<std::uint64_t>(entry + ZTCMU_REQ_CDB_OFF);
    if (iovCount > (length - kIovOffset) / ZTCMU_IOVEC_SIZE || !Inside(size, cdbOffset, 1)) {
        return std::nullopt;
    }
    // Fields are copied out, never cast: nothing but the entry's start is promised any
    // alignment.
    Request request;
    for (std::uint32_t i = 0; i < iovCount; ++i) {
        // iov_base holds an offset into the shared area, not an address.
        const std::uint8_t* vector = entry + kIovOffset + std::size_t{i} * ZTCMU_IOVEC_SIZE;
        const auto offset = ReadAt<std::uint64_t>(vector);
        const auto bytes = ReadAt<std::uint64_t>(vector + ZTCMU_IOVEC_LEN);
        if (!Inside(size, offset, bytes)) {
            return std::nullopt;
        }
        request.spans.push_back({offset, bytes});
        request.command.capacity += bytes;
    }
    const std::uint8_t* cdb = base + cdbOffset;
    request.command.cdb.assign(cdb, cdb + CdbLength(cdb, size - cdbOffset));
    request.command.data.reserve(request.command.capacity);
    for (const Span& span : request.spans) {
        request.command.data.insert(request.command.data.end(), base + span.offset,
                                    base + span.offset + span.length);
    }
    return request;
}

// Writes the reply over its request: data-in scattered into the iovecs, status, sense and,
// where the kernel takes it, the length actually read.
void WriteResponse(std::uint8_t* base, std::uint8_t* entry, const Request& request,
                   const RingReply& reply, bool readLenCapable) {
    std::size_t copied = 0;
    for (const Span& span : request.spans) {
        if (copied >= reply.dataIn.size())
            break;
        const std::size_t now = std::min<std::size_t>(span.length, reply.dataIn.size() - copied);
        std::memcpy(base + span.offset, reply.dataIn.data() + copied, now);
        copied += now;
    }
    entry[kStatusOffset] = reply.status;
    std::uint8_t sense[kSenseSize] = {};
    std::copy_n(reply.sense.begin(), std::min<std::size_t>(reply.sense.size(), sizeof sense),
                sense);
    std::memcpy(entry + kSenseOffset, sense, sizeof sense);
    std::uint8_t flags = 0;
    if (readLenCapable && reply.dataInCommand && copied < request.command.capacity) {
        // Without the flag the kernel reports the whole buffer as transferred.
        WriteAt(entry + kReadLenOffset, static_cast<std::uint32_t>(copied));
        flags |= ZTCMU_UFLAG_READ_LEN;
    }
    entry[kUflagsOffset] = flags;
}

} // namespace

std::size_t CdbLength(const std::uint8_t* cdb, std::size_t available) {
    if (available == 0)
        return 0;
    std::size_t length = 10;
    switch (cdb[0] >> 5) {
    case 0:
        length = 6;
        break;
    case 1:
    case 2:
        length = 10;
        break;
    case 3:
        length = available > 7 ? 8u + cdb[7] : 8u;
        break;
    case 4:
        length = 16;
        break;
    case 5:
        length = 12;
        break;
    default:
        length = 10;
        break;
    }
    return std::min(length, available);
}

WalkResult WalkRing(std::span<std::uint8_t> area, const RingServer& server) {
    WalkResult result;
    std::uint8_t* base = area.data();
    const std::size_t size = area.size();
    if (size < ZTCMU_MAILBOX_SIZE) {
        result.broken = true;
        return result;
    }
    const auto mailboxFlags = ReadAt<std::uint16_t>(base + ZTCMU_MAILBOX_FLAGS);
    const auto ringOffset = ReadAt<std::uint32_t>(base + ZTCMU_MAILBOX_CMDR_OFF);
    const auto ringSize = ReadAt<std::uint32_t>(base + ZTCMU_MAILBOX_CMDR_SIZE);
    if (ringSize == 0 || !Inside(size, ringOffset, ringSize)) {
        result.broken = true;
        return result;
    }
    const bool readLenCapable = (mailboxFlags & ZTCMU_FLAG_CAP_READ_LEN) != 0;
    std::uint8_t* ring = base + ringOffset;

    std::uint32_t tail = LoadShared(base, kTailOffset) % ringSize;
    while (tail != LoadShared(base, kHeadOffset) % ringSize) {
        std::uint8_t* entry = ring + tail;
        if (ringSize - tail < ZTCMU_HDR_SIZE) {
            result.broken = true;
            break;
        }
        const auto lenOp = ReadAt<std::uint32_t>(entry + ZTCMU_HDR_LEN_OP);
        const std::uint32_t length = lenOp & ~std::uint32_t{ZTCMU_OP_MASK};
        if (length == 0 || length > ringSize - tail) {
            result.broken = true;
            break;
        }
        // PAD entries fill the ring's end, TMR entries only inform: both are skipped.
        if ((lenOp & ZTCMU_OP_MASK) == ZTCMU_OP_CMD) {
            const std::optional<Request> request = ReadRequest(area, entry, length);
            if (!request) {
                result.broken = true;
                break;
            }
            RingReply reply;
            if (!server(request->command, reply)) {
                result.stopped = true;
                break;
            }
            WriteResponse(base, entry, *request, reply, readLenCapable);
            ++result.completed;
        }
        tail = (tail + length) % ringSize;
        StoreShared(base, kTailOffset, tail);
    }
    return result;
}

} // namespace zurvax::tcmu

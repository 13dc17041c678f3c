// The command ring walk on a shared area laid out as the kernel lays it out, without a kernel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "zurvax/tcmu/TcmuLayout.h"
#include "zurvax/tcmu/TcmuRing.h"

namespace {

using zurvax::tcmu::RingCommand;
using zurvax::tcmu::RingReply;
using zurvax::tcmu::WalkRing;

constexpr std::uint32_t kRingOffset = 128;
constexpr std::uint32_t kRingSize = 1024;
constexpr std::uint64_t kCdbArea = 2048;
constexpr std::uint64_t kDataArea = 4096;

template <typename T> void Put(std::vector<std::uint8_t>& area, std::size_t at, T value) {
    std::memcpy(area.data() + at, &value, sizeof value);
}

template <typename T> T Get(const std::vector<std::uint8_t>& area, std::size_t at) {
    T value;
    std::memcpy(&value, area.data() + at, sizeof value);
    return value;
}

struct Iov {
    std::uint64_t offset;
    std::uint64_t length;
};

class Ring : public ::testing::Test {
protected:
    Ring() : area(16384, 0) {
        Put<std::uint16_t>(area, ZTCMU_MAILBOX_FLAGS, ZTCMU_FLAG_CAP_READ_LEN);
        Put<std::uint32_t>(area, ZTCMU_MAILBOX_CMDR_OFF, kRingOffset);
        Put<std::uint32_t>(area, ZTCMU_MAILBOX_CMDR_SIZE, kRingSize);
    }

    // Writes a command entry at ring offset `at` and returns its length.
    std::uint32_t Command(std::uint32_t at, std::vector<std::uint8_t> cdb,
                          const std::vector<Iov>& iovs) {
        const std::uint64_t cdbOffset = kCdbArea + at;
        std::memcpy(area.data() + cdbOffset, cdb.data(), cdb.size());
        const std::uint32_t length = std::max<std::uint32_t>(
            ZTCMU_ENTRY_SIZE, (ZTCMU_REQ_IOV + ZTCMU_IOVEC_SIZE * iovs.size() + 7) & ~7u);
        const std::size_t entry = kRingOffset + at;
        Put<std::uint32_t>(area, entry + ZTCMU_HDR_LEN_OP, length | ZTCMU_OP_CMD);
        Put<std::uint32_t>(area, entry + ZTCMU_REQ_IOV_CNT,
                           static_cast<std::uint32_t>(iovs.size()));
        Put<std::uint64_t>(area, entry + ZTCMU_REQ_CDB_OFF, cdbOffset);
        for (std::size_t i = 0; i < iovs.size(); ++i) {
            Put<std::uint64_t>(area, entry + ZTCMU_REQ_IOV + i * ZTCMU_IOVEC_SIZE, iovs[i].offset);
            Put<std::uint64_t>(area, entry + ZTCMU_REQ_IOV + i * ZTCMU_IOVEC_SIZE + ZTCMU_IOVEC_LEN,
                               iovs[i].length);
        }
        return length;
    }

    void Head(std::uint32_t head) { Put<std::uint32_t>(area, ZTCMU_MAILBOX_CMD_HEAD, head); }
    void Tail(std::uint32_t tail) { Put<std::uint32_t>(area, ZTCMU_MAILBOX_CMD_TAIL, tail); }
    std::uint32_t Tail() const { return Get<std::uint32_t>(area, ZTCMU_MAILBOX_CMD_TAIL); }
    std::uint8_t At(std::size_t offset) const { return area[offset]; }

    std::vector<std::uint8_t> area;
};

TEST_F(Ring, AShortDataInIsScatteredAndItsLengthReported) {
    const std::uint32_t length =
        Command(0, {0x12, 0, 0, 0, 36, 0}, {{kDataArea, 4}, {kDataArea + 100, 32}});
    Head(length);
    std::vector<std::uint8_t> seen;
    const auto result = WalkRing(area, [&](const RingCommand& command, RingReply& reply) {
        seen = command.cdb;
        EXPECT_EQ(command.capacity, 36u);
        reply.status = 0;
        reply.dataIn = {1, 2, 3, 4, 5, 6};
        reply.dataInCommand = true;
        return true;
    });
    EXPECT_EQ(result.completed, 1u);
    EXPECT_FALSE(result.broken);
    EXPECT_EQ(seen, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 36, 0})) << "six bytes for group 0";
    EXPECT_EQ(Tail(), length);
    EXPECT_EQ(At(kDataArea + 3), 4);
    EXPECT_EQ(At(kDataArea + 100), 5);
    EXPECT_EQ(At(kDataArea + 101), 6);
    EXPECT_EQ(At(kRingOffset + ZTCMU_HDR_UFLAGS), ZTCMU_UFLAG_READ_LEN);
    EXPECT_EQ(Get<std::uint32_t>(area, kRingOffset + ZTCMU_RSP_READ_LEN), 6u);
}

TEST_F(Ring, DataOutIsGatheredAndStatusAndSenseOverlayTheRequest) {
    area[kDataArea] = 0xAB;
    area[kDataArea + 1] = 0xCD;
    const std::uint32_t length = Command(0, {0x3B, 2, 0, 0, 0, 0, 0, 0, 2, 0}, {{kDataArea, 2}});
    Head(length);
    const auto result = WalkRing(area, [&](const RingCommand& command, RingReply& reply) {
        EXPECT_EQ(command.data, (std::vector<std::uint8_t>{0xAB, 0xCD}));
        reply.status = 2;
        reply.sense = {0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x26, 0};
        return true;
    });
    EXPECT_EQ(result.completed, 1u);
    EXPECT_EQ(At(kRingOffset + ZTCMU_RSP_SCSI_STATUS), 2);
    EXPECT_EQ(At(kRingOffset + ZTCMU_RSP_SENSE), 0x70);
    EXPECT_EQ(At(kRingOffset + ZTCMU_RSP_SENSE + 12), 0x26);
    EXPECT_EQ(At(kRingOffset + ZTCMU_HDR_UFLAGS), 0) << "no read length for data-out";
}

TEST_F(Ring, PadAndTaskManagementEntriesAreSkippedAcrossTheWrap) {
    const std::uint32_t start = kRingSize - 192;
    Tail(start);
    Put<std::uint32_t>(area, kRingOffset + start, 128u | 2u); // a TMR entry
    Put<std::uint32_t>(area, kRingOffset + start + 128, 64u | ZTCMU_OP_PAD);
    const std::uint32_t length = Command(0, {0x00, 0, 0, 0, 0, 0}, {});
    Head(length);
    unsigned served = 0;
    const auto result =
        WalkRing(area, [&](const RingCommand&, RingReply&) { return ++served, true; });
    EXPECT_EQ(served, 1u);
    EXPECT_EQ(result.completed, 1u);
    EXPECT_EQ(Tail(), length);
}

TEST_F(Ring, ADeclinedCommandStaysForTheNextWalk) {
    const std::uint32_t first = Command(0, {0x00, 0, 0, 0, 0, 0}, {});
    const std::uint32_t second = Command(first, {0x00, 0, 0, 0, 0, 0}, {});
    Head(first + second);
    unsigned calls = 0;
    auto result = WalkRing(area, [&](const RingCommand&, RingReply&) { return ++calls == 1; });
    EXPECT_TRUE(result.stopped);
    EXPECT_EQ(result.completed, 1u);
    EXPECT_EQ(Tail(), first);
    result = WalkRing(area, [&](const RingCommand&, RingReply&) { return true; });
    EXPECT_EQ(result.completed, 1u);
    EXPECT_EQ(Tail(), first + second);
}

TEST_F(Ring, AnEntryTooShortForTheResponseBreaksTheWalk) {
    Put<std::uint32_t>(area, kRingOffset + ZTCMU_HDR_LEN_OP, 48u | ZTCMU_OP_CMD);
    Put<std::uint64_t>(area, kRingOffset + ZTCMU_REQ_CDB_OFF, kCdbArea);
    Head(48);
    bool called = false;
    const auto result =
        WalkRing(area, [&](const RingCommand&, RingReply&) { return called = true; });
    EXPECT_TRUE(result.broken);
    EXPECT_FALSE(called);
}

TEST_F(Ring, AnIovecOutsideTheAreaBreaksTheWalkWithoutAnswering) {
    const std::uint32_t length = Command(0, {0x3C, 2, 0, 0, 0, 0, 0, 0x10, 0, 0}, {{16000, 4096}});
    Head(length);
    bool called = false;
    const auto result =
        WalkRing(area, [&](const RingCommand&, RingReply&) { return called = true; });
    EXPECT_TRUE(result.broken);
    EXPECT_FALSE(called);
    EXPECT_EQ(Tail(), 0u);
}

} // namespace

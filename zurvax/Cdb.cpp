#include "zurvax/Cdb.h"

namespace zurvax {
namespace {

Cdb Six(std::uint8_t opcode, std::uint8_t byte1, std::uint8_t allocationLength) {
    Cdb cdb;
    cdb.length = 6;
    cdb.bytes[0] = opcode;
    cdb.bytes[1] = byte1;
    cdb.bytes[4] = allocationLength;
    return cdb;
}

void Put24(Cdb& cdb, std::size_t at, std::uint32_t value) {
    cdb.bytes[at] = static_cast<std::uint8_t>(value >> 16);
    cdb.bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
    cdb.bytes[at + 2] = static_cast<std::uint8_t>(value);
}

std::optional<Cdb> Buffer10(std::uint8_t opcode, std::uint8_t mode, std::uint8_t bufferId,
                            std::uint32_t offset, std::uint32_t length) {
    if (offset > kMaxField24 || length > kMaxField24)
        return std::nullopt;
    Cdb cdb;
    cdb.length = 10;
    cdb.bytes[0] = opcode;
    cdb.bytes[1] = mode & 0x1F;
    cdb.bytes[2] = bufferId;
    Put24(cdb, 3, offset);
    Put24(cdb, 6, length);
    return cdb;
}

} // namespace

Cdb TestUnitReadyCdb() { return Six(kOpTestUnitReady, 0, 0); }

Cdb InquiryCdb(std::uint8_t allocationLength) { return Six(kOpInquiry, 0, allocationLength); }

Cdb VpdInquiryCdb(std::uint8_t page, std::uint8_t allocationLength) {
    Cdb cdb = Six(kOpInquiry, 0x01, allocationLength);
    cdb.bytes[2] = page;
    return cdb;
}

Cdb RequestSenseCdb(std::uint8_t allocationLength) {
    return Six(kOpRequestSense, 0, allocationLength);
}

std::optional<Cdb> WriteBufferCdb(std::uint8_t mode, std::uint8_t bufferId, std::uint32_t offset,
                                  std::uint32_t length) {
    return Buffer10(kOpWriteBuffer, mode, bufferId, offset, length);
}

std::optional<Cdb> ReadBufferCdb(std::uint8_t mode, std::uint8_t bufferId, std::uint32_t offset,
                                 std::uint32_t allocationLength) {
    return Buffer10(kOpReadBuffer, mode, bufferId, offset, allocationLength);
}

std::uint32_t Field24(std::span<const std::uint8_t> cdb, std::size_t at) {
    if (cdb.size() < at + 3)
        return 0;
    return (std::uint32_t{cdb[at]} << 16) | (std::uint32_t{cdb[at + 1]} << 8) | cdb[at + 2];
}

} // namespace zurvax

// Builders for the CDBs the library sends. Each returns the exact bytes that go on the
// wire; a field that does not fit its CDB is refused (nullopt), never truncated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace zurvax {

enum : std::uint8_t {
    kOpTestUnitReady = 0x00,
    kOpRequestSense = 0x03,
    kOpInquiry = 0x12,
    kOpWriteBuffer = 0x3B,
    kOpReadBuffer = 0x3C,
};

// Largest value of a 3-byte CDB field (buffer offset, transfer length).
inline constexpr std::uint32_t kMaxField24 = 0xFFFFFF;

// Vital product data pages.
enum : std::uint8_t {
    kVpdSupportedPages = 0x00,
    kVpdUnitSerialNumber = 0x80,
};

struct Cdb {
    std::array<std::uint8_t, 16> bytes{};
    std::size_t length = 0;
    std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
};

Cdb TestUnitReadyCdb();
// Standard INQUIRY data, no vital product data page.
Cdb InquiryCdb(std::uint8_t allocationLength);
// INQUIRY for one vital product data page (EVPD = 1).
Cdb VpdInquiryCdb(std::uint8_t page, std::uint8_t allocationLength);
// Fixed-format sense (DESC = 0).
Cdb RequestSenseCdb(std::uint8_t allocationLength);
// WRITE BUFFER (10) / READ BUFFER (10). mode keeps bits 0-4 only; nullopt when offset or
// length exceeds kMaxField24.
std::optional<Cdb> WriteBufferCdb(std::uint8_t mode, std::uint8_t bufferId, std::uint32_t offset,
                                  std::uint32_t length);
std::optional<Cdb> ReadBufferCdb(std::uint8_t mode, std::uint8_t bufferId, std::uint32_t offset,
                                 std::uint32_t allocationLength);

// Big-endian 3-byte field at cdb[at..at+2].
std::uint32_t Field24(std::span<const std::uint8_t> cdb, std::size_t at);

} // namespace zurvax

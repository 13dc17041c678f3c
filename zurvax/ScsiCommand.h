// One SCSI command and its outcome, independent of the transport that carries it.
//
// A ScsiCommand holds the CDB (copied), a time-out and at most one data buffer, which the
// caller owns and must keep alive until the transport's execute() returns. The direction
// is explicit so that a transport never has to guess it from the opcode.
//
// A ScsiResult reports the outcome by category, each judged on its own (zurvax/Classify.h):
// the OS error of the submission, the transport's (host adapter / driver) status, the
// SCSI status byte with any sense data the device returned, and the residual count.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace zurvax {

enum class DataDirection { None, ToDevice, FromDevice };

// The largest CDB any transport of ours must carry.
inline constexpr std::size_t kMaxCdbLength = 16;

class ScsiCommand {
public:
    // cdb is copied; at most kMaxCdbLength bytes are kept.
    ScsiCommand(std::span<const std::uint8_t> cdb, std::chrono::milliseconds timeout);
    ScsiCommand(const ScsiCommand&) = delete;
    ScsiCommand& operator=(const ScsiCommand&) = delete;

    // Data the device receives (direction ToDevice). The bytes stay the caller's.
    void setDataOut(std::span<const std::uint8_t> data);
    // Room for data the device sends (direction FromDevice). A transfer shorter than
    // requiredBytes makes the command fail with ZURVAX_STATUS_SHORT_TRANSFER.
    void setDataIn(std::span<std::uint8_t> buffer, std::size_t requiredBytes);

    std::span<const std::uint8_t> cdb() const { return {cdb_.data(), cdbLength_}; }
    std::chrono::milliseconds timeout() const { return timeout_; }
    DataDirection direction() const { return direction_; }
    std::span<const std::uint8_t> dataOut() const { return dataOut_; }
    std::span<std::uint8_t> dataIn() const { return dataIn_; }
    std::size_t requiredDataIn() const { return requiredDataIn_; }

private:
    std::array<std::uint8_t, kMaxCdbLength> cdb_{};
    std::size_t cdbLength_ = 0;
    std::chrono::milliseconds timeout_;
    DataDirection direction_ = DataDirection::None;
    std::span<const std::uint8_t> dataOut_;
    std::span<std::uint8_t> dataIn_;
    std::size_t requiredDataIn_ = 0;
};

// Why the OS refused or failed the submission itself.
enum class OsError { None, PermissionDenied, NoDevice, TimedOut, Other };

// What the host adapter and driver said about the command's delivery.
enum class TransportStatus { Ok, Timeout, NoDevice, Error };

// SCSI status byte values (SAM) the library tells apart.
enum : std::uint8_t {
    kScsiGood = 0x00,
    kScsiCheckCondition = 0x02,
    kScsiConditionMet = 0x04,
    kScsiBusy = 0x08,
    kScsiReservationConflict = 0x18,
    kScsiTaskSetFull = 0x28,
    kScsiAcaActive = 0x30,
    kScsiTaskAborted = 0x40,
};

struct ScsiResult {
    OsError osError = OsError::None;
    // errno or GetLastError() value behind osError, kept for diagnostics only.
    int osErrorCode = 0;
    TransportStatus transport = TransportStatus::Ok;
    // Raw host and driver status behind transport, kept for diagnostics only.
    std::uint32_t hostStatus = 0;
    std::uint32_t driverStatus = 0;
    // Full SAM status byte (not the shifted form some drivers use).
    std::uint8_t scsiStatus = kScsiGood;
    // Sense bytes the device returned with a CHECK CONDITION; empty when none came back.
    std::vector<std::uint8_t> sense;
    // Bytes of the data buffer that were not transferred.
    std::size_t residual = 0;
};

} // namespace zurvax

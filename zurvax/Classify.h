// The one place where a command's outcome becomes a library status. Every transport's
// results go through Classify, so the same device answer gives the same status whether it
// came from the emulator, SG_IO or SPTI.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "zurvax/ScsiCommand.h"

namespace zurvax {

struct AdditionalSense {
    std::uint8_t senseKey = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
};

// Sense key, ASC and ASCQ from fixed (70h/71h) or descriptor (72h/73h) sense data;
// nullopt when the bytes are too short or in another format.
std::optional<AdditionalSense> ParseSense(std::span<const std::uint8_t> sense);

// The OS error and the transport status alone: 0 when both are clean. For outcomes without
// a SCSI command behind them (claiming a device).
std::uint32_t ClassifyDelivery(const ScsiResult& result);

// Judges, in this order, the OS error, the transport status, the SCSI status (with the
// sense data of a CHECK CONDITION) and, for data-in commands, whether the device sent at
// least command.requiredDataIn() bytes. Returns 0 only when every category is clean.
std::uint32_t Classify(const ScsiCommand& command, const ScsiResult& result);

} // namespace zurvax

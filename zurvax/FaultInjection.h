// The emulation file's fault rules (FaultRule, zurvax/EmulationConfig.h), applied to the
// library's operations on one transport. They act on library calls, not on the SCSI
// commands beneath: GetDeviceType and ReadRawInquiryData count apart though both send the
// same INQUIRY, a rule's status comes back as the file gives it, and corrupt data is changed
// after the operation has converted it. Only the emulation's operations carry them; the
// transports to the OS's devices never see them.
//
// A call on an existing device counts for every rule matching it, and the first of those
// whose window holds the call decides what happens; a call past the last device counts for
// no rule. A Fail rule returns its status with nothing sent (GetDeviceType then gives
// NO_DEVICE_TYPE and GetScsiPath an all-zero path). A Corrupt rule acts normally but changes
// one byte of the data moved, always the last one (XOR FFh): the last inquiry or sense byte,
// the last byte READ BUFFER returns or WRITE BUFFER sends (the caller's own bytes stay as
// they were), byte 3 of the path, the last character of the serial number; for
// GetDeviceType the type's lowest bit flips when an INQUIRY gave it. Calls without data,
// and calls that fail, act unchanged.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "zurvax/EmulationConfig.h"
#include "zurvax/Operation.h"
#include "zurvax/Operations.h"

namespace zurvax {

// Per device index, that device's rules in the file's order; devices past the end have none.
using FaultRules = std::vector<std::vector<FaultRule>>;

// The rules of config's devices (DeviceConfig::faults).
FaultRules FaultRulesOf(const EmulationConfig& config);

// The operations with the rules applied; the calls each rule has counted start from none.
// GetDeviceNodes is no operation a rule can name, and is left as it is.
class FaultyOperations final : public Operations {
public:
    FaultyOperations(Transport& transport, FaultRules rules);

    std::uint8_t deviceType(std::uint32_t index) override;
    std::uint32_t inquiry(std::uint32_t index, INQUIRY_DATA* data) override;
    DevicePath path(std::uint32_t index) override;
    std::uint32_t testUnitReady(std::uint32_t index) override;
    std::uint32_t requestSense(std::uint32_t index, SENSE_DATA* sense) override;
    std::uint32_t writeBuffer(std::uint32_t index, std::uint8_t mode, std::uint8_t bufferId,
                              std::uint32_t offset, std::uint32_t length,
                              const std::uint8_t* data) override;
    std::uint32_t readBuffer(std::uint32_t index, std::uint8_t mode, std::uint8_t bufferId,
                             std::uint32_t offset, std::uint32_t length,
                             std::uint8_t* data) override;
    std::uint32_t serialNumber(std::uint32_t index, char* serial, std::uint32_t size) override;
    std::uint32_t claim(std::uint32_t index) override;
    std::uint32_t release(std::uint32_t index) override;

private:
    // What the rules make of one call.
    struct Intercept {
        enum class Kind { Proceed, Fail, Corrupt };
        Kind kind = Kind::Proceed;
        std::uint32_t status = 0; // Fail's
    };
    struct Device {
        std::vector<FaultRule> rules;
        std::vector<std::uint64_t> calls; // matching calls seen, per rule
    };

    // Counts the call; mode is set for WriteBuffer and ReadBuffer.
    Intercept intercept(Operation op, std::uint32_t index,
                        std::optional<std::uint8_t> mode = std::nullopt);

    std::vector<Device> devices_;
};

} // namespace zurvax

// The seam between the library's operations and whatever carries SCSI commands: the
// in-process emulator, SG_IO on Linux, SPTI on Windows, or a test's recording double.
//
// A transport enumerates its devices once, when it is made; indexes 0..deviceCount()-1
// then name the same devices for the transport's whole life. The library serialises all
// calls into one transport, so implementations need no locking of their own.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "zurvax/ScsiCommand.h"
#include "zurvax/ZurvaxApi.h"

namespace zurvax {

// Byte 1 host adapter, byte 2 target, byte 3 logical unit; byte 0 unused (zero).
using DevicePath = std::array<std::uint8_t, 4>;

// A device's pass-through node and tape node, as GetDeviceNodes hands them over.
struct DeviceNodes {
    std::string passThrough;
    std::string tape;
};

// What claiming a device came to: held, refused because another opener holds it, or failed
// as the OS said (failure's OS or transport category; clean when claimed). lockUnavailable:
// claimed, but nothing is held because the unit's tape node could not be told among the
// system's; other programs are not kept out.
struct ClaimResult {
    bool inUse = false;
    bool lockUnavailable = false;
    ScsiResult failure;
};

class Transport {
public:
    Transport() = default;
    virtual ~Transport() = default;
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    virtual std::uint32_t deviceCount() const = 0;
    // Path of a device; index < deviceCount().
    virtual DevicePath devicePath(std::uint32_t index) const = 0;
    // Device type learned while enumerating (e.g. from the OS), used when INQUIRY fails.
    virtual std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t) const {
        return std::nullopt;
    }
    // The system's nodes of a device (index < deviceCount()); empty where it has none.
    virtual DeviceNodes deviceNodes(std::uint32_t) const { return {}; }
    // What GetDeviceType reports for an index at or past deviceCount().
    virtual std::uint8_t deviceTypePastEnd() const { return NO_DEVICE_TYPE; }
    // Sends command to device index (< deviceCount()) and waits at most command.timeout().
    // Data-in lands in the command's buffer; everything else is reported in the result.
    // Never throws.
    virtual ScsiResult execute(std::uint32_t index, const ScsiCommand& command) = 0;
    // Holds the device's tape node (index < deviceCount()) exclusively until release(); a
    // device without one is claimed with nothing held. The library never claims a device
    // twice without a release between.
    virtual ClaimResult claim(std::uint32_t) { return {}; }
    virtual void release(std::uint32_t) {}
    // ZurvaxOpen's message when the transport opened: a one-line warning the program shows
    // once before its first scan, or empty when there is nothing to warn about.
    virtual std::string describe() const = 0;
};

// A transport without devices: what the library offers when the OS has none to give.
class EmptyTransport final : public Transport {
public:
    std::uint32_t deviceCount() const override { return 0; }
    DevicePath devicePath(std::uint32_t) const override { return {}; }
    ScsiResult execute(std::uint32_t, const ScsiCommand&) override {
        ScsiResult result;
        result.osError = OsError::NoDevice;
        return result;
    }
    std::string describe() const override { return {}; }
};

} // namespace zurvax

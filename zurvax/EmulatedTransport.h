// In-process transport to emulated drives (zurvax/EmulatedDrive.h). The emulation file's
// fault rules act on the library's operations, not here (zurvax/FaultInjection.h).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "zurvax/EmulatedDrive.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/KeptState.h"
#include "zurvax/Transport.h"

namespace zurvax {

class EmulatedTransport final : public Transport {
public:
    // kept: what config.stateFile held when it was read (already applied to config); the
    // file is rewritten whenever a drive's firmware revision changes.
    explicit EmulatedTransport(EmulationConfig config, KeptState kept = {});

    std::uint32_t deviceCount() const override;
    DevicePath devicePath(std::uint32_t index) const override;
    std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t index) const override;
    std::uint8_t deviceTypePastEnd() const override;
    ScsiResult execute(std::uint32_t index, const ScsiCommand& command) override;
    // In use when the file says another program holds the unit's tape device.
    ClaimResult claim(std::uint32_t index) override;
    std::string describe() const override;

    // The drive at index, or null past the last device.
    const EmulatedDrive* drive(std::uint32_t index) const;
    // Why the state file could not be written the last time it had to be; empty when it
    // was. The drives go on with what they took; the next change tries again.
    const std::string& stateError() const { return stateError_; }
    // A failure to write the state file not yet handed out, once each: the caller reports
    // it. Empty when there is none.
    std::string takeStateReport() { return std::exchange(stateReport_, {}); }

private:
    struct Device {
        DeviceConfig config;
        EmulatedDrive drive;
        std::string keptRevision; // the firmware revision the state file has
    };

    void keep(Device& device);

    EndOfList endOfList_;
    std::vector<Device> devices_;
    std::string stateFile_;
    KeptState kept_;
    std::string stateError_;
    std::string stateReport_;
};

} // namespace zurvax

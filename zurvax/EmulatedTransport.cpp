#include "zurvax/EmulatedTransport.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace zurvax {

EmulatedTransport::EmulatedTransport(EmulationConfig config, KeptState kept)
    : endOfList_(config.endOfList), stateFile_(std::move(config.stateFile)),
      kept_(std::move(kept)) {
    devices_.reserve(config.devices.size());
    for (auto& device : config.devices) {
        EmulatedDrive drive(device.drive);
        std::string revision = drive.firmwareRevision();
        devices_.push_back(Device{std::move(device), std::move(drive), std::move(revision)});
    }
}

void EmulatedTransport::keep(Device& device) {
    std::string revision = device.drive.firmwareRevision();
    if (revision == device.keptRevision)
        return;
    kept_.revisions[device.drive.serial()] = revision;
    stateError_ = UpdateKeptState(stateFile_, device.drive.serial(), revision).message;
    if (!stateError_.empty())
        stateReport_ = stateError_;
    device.keptRevision = std::move(revision);
}

std::uint32_t EmulatedTransport::deviceCount() const {
    return static_cast<std::uint32_t>(devices_.size());
}

DevicePath EmulatedTransport::devicePath(std::uint32_t index) const {
    return index < devices_.size() ? devices_[index].config.path : DevicePath{};
}

std::optional<std::uint8_t> EmulatedTransport::enumeratedDeviceType(std::uint32_t index) const {
    if (index >= devices_.size())
        return std::nullopt;
    return static_cast<std::uint8_t>(devices_[index].drive.inquiry()[0] & 0x1F);
}

std::uint8_t EmulatedTransport::deviceTypePastEnd() const {
    return endOfList_ == EndOfList::Inquiry ? 1 : NO_DEVICE_TYPE;
}

ScsiResult EmulatedTransport::execute(std::uint32_t index, const ScsiCommand& command) {
    ScsiResult result;
    if (index >= devices_.size()) {
        result.transport = TransportStatus::NoDevice;
        return result;
    }
    if (devices_[index].config.latencyMs != 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(devices_[index].config.latencyMs));
    }
    const auto dataIn = command.dataIn();
    Answer answer = devices_[index].drive.execute(command.cdb(), command.dataOut(), dataIn);
    result.scsiStatus = answer.status;
    result.sense = std::move(answer.sense);
    result.residual = dataIn.size() - answer.dataInLength;
    if (!stateFile_.empty())
        keep(devices_[index]);
    return result;
}

ClaimResult EmulatedTransport::claim(std::uint32_t index) {
    ClaimResult result;
    result.inUse = index < devices_.size() && devices_[index].config.tapeInUse;
    return result;
}

// A working emulation has nothing to warn about; what it offers shows in the device list.
std::string EmulatedTransport::describe() const { return {}; }

const EmulatedDrive* EmulatedTransport::drive(std::uint32_t index) const {
    return index < devices_.size() ? &devices_[index].drive : nullptr;
}

} // namespace zurvax

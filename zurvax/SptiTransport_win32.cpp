#include "zurvax/SptiTransport_win32.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>

namespace zurvax {

namespace {

// What an adapter answers for a unit a class driver holds.
bool IsClaimedRefusal(std::uint32_t error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_ACCESS_DENIED;
}

} // namespace

SptiTransport::SptiTransport(std::unique_ptr<DeviceIo> io) : io_(std::move(io)) {
    enumerateAdapters();
    enumerateClassDevices();
    std::stable_sort(devices_.begin(), devices_.end(), [](const Device& a, const Device& b) {
        return std::tie(a.adapter, a.pathId, a.targetId, a.lun) <
               std::tie(b.adapter, b.pathId, b.targetId, b.lun);
    });
}

SptiTransport::~SptiTransport() {
    // Handles go back to the DeviceIo that made them, before it goes.
    devices_.clear();
    adapters_.clear();
}

std::uint32_t SptiTransport::deviceCount() const {
    return static_cast<std::uint32_t>(devices_.size());
}

DevicePath SptiTransport::devicePath(std::uint32_t index) const {
    if (index >= devices_.size())
        return {};
    const Device& device = devices_[index];
    return {0, device.adapter, device.targetId, device.lun};
}

std::optional<std::uint8_t> SptiTransport::enumeratedDeviceType(std::uint32_t index) const {
    return index < devices_.size() ? devices_[index].type : std::nullopt;
}

std::array<std::uint8_t, 4> SptiTransport::address(std::uint32_t index) const {
    if (index >= devices_.size())
        return {};
    const Device& device = devices_[index];
    return {device.adapter, device.pathId, device.targetId, device.lun};
}

std::string SptiTransport::classPath(std::uint32_t index) const {
    return index < devices_.size() ? devices_[index].classPath : std::string();
}

std::string SptiTransport::describe() const {
    if (refusedAdapters_.empty())
        return {};
    std::string text = "Windows refused access to the SCSI adapter " + refusedAdapters_.front();
    if (refusedAdapters_.size() > 1) {
        text += " and " + std::to_string(refusedAdapters_.size() - 1) + " more";
    }
    text += ": this program must be run as administrator (right-click it, Run as administrator).";
    return text;
}

ScsiResult SptiTransport::execute(std::uint32_t index, const ScsiCommand& command) {
    if (index >= devices_.size())
        return SptiErrorResult(ERROR_DEV_NOT_EXIST);
    Device& device = devices_[index];
    if (device.throughClass || !device.adapterSlot) {
        if (device.classPath.empty())
            return SptiErrorResult(ERROR_DEV_NOT_EXIST);
        return sendThroughClass(device, command);
    }
    Adapter& adapter = adapters_[*device.adapterSlot];
    Attempt attempt =
        send(adapter.handle.get(), adapter.alignmentMask, adapter.buffered, device, command);
    if (attempt.delivered || !IsClaimedRefusal(attempt.error) || device.classPath.empty()) {
        return std::move(attempt.result);
    }
    return sendThroughClass(device, command);
}

} // namespace zurvax

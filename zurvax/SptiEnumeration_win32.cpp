#include "zurvax/SptiTransport_win32.h"

// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "zurvax/SptiParts_win32.h"

namespace zurvax {

namespace {

std::string AdapterName(unsigned number) { return "\\\\.\\Scsi" + std::to_string(number) + ":"; }

// Peripheral qualifier 3: the target has no unit at this LUN and never will.
constexpr std::uint8_t kNoUnitQualifier = 3;

bool IsMask(std::uint32_t mask) { return (mask & (mask + 1)) == 0 && mask <= 0xFFFF; }

} // namespace

std::vector<ListedUnit> ParseAdapterInquiryData(std::span<const std::uint8_t> data) {
    std::vector<ListedUnit> units;
    if (data.empty())
        return units;
    const std::size_t size = data.size();
    const std::size_t busBase = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
    const std::size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
    const std::size_t maxEntries = size / header;
    std::set<std::tuple<std::uint8_t, std::uint8_t, std::uint8_t>> seen;

    const unsigned buses = data[0];
    for (unsigned bus = 0; bus < buses; ++bus) {
        const std::size_t at = busBase + bus * sizeof(SCSI_BUS_DATA);
        if (at > size || size - at < sizeof(SCSI_BUS_DATA))
            break;
        SCSI_BUS_DATA busData{};
        std::memcpy(&busData, data.data() + at, sizeof busData);

        std::size_t offset = busData.InquiryDataOffset;
        for (std::size_t step = 0; offset != 0 && step < maxEntries; ++step) {
            if (offset > size || size - offset < header)
                break;
            const std::size_t here = offset;
            SCSI_INQUIRY_DATA entry{};
            std::memcpy(&entry, data.data() + here, header);
            offset = entry.NextInquiryDataOffset;
            ListedUnit unit;
            unit.pathId = entry.PathId;
            unit.targetId = entry.TargetId;
            unit.lun = entry.Lun;
            unit.claimed = entry.DeviceClaimed != FALSE;
            if (entry.InquiryDataLength >= 1 && size - here > header) {
                const std::uint8_t first = data[here + header];
                if ((first >> 5) == kNoUnitQualifier)
                    continue;
                unit.type = static_cast<std::uint8_t>(first & 0x1F);
            }
            if (seen.emplace(unit.pathId, unit.targetId, unit.lun).second)
                units.push_back(unit);
        }
    }
    return units;
}

void SptiTransport::enumerateAdapters() {
    unsigned missing = 0;
    for (unsigned number = 0; number < kMaxAdapters && missing < kMissingAdaptersToStop; ++number) {
        const std::string name = AdapterName(number);
        DeviceHandle handle(*io_, io_->open(name, true));
        if (!handle.valid()) {
            const std::uint32_t error = io_->lastError();
            if (IsAbsent(error)) {
                ++missing;
                continue;
            }
            if (error == ERROR_ACCESS_DENIED)
                refusedAdapters_.push_back(name);
            // Listing units needs no access rights; commands on them will then fail as the
            // OS decides, which is what their callers must see.
            handle = DeviceHandle(*io_, io_->open(name, false));
        }
        missing = 0;
        if (!handle.valid())
            continue;

        Adapter adapter;
        adapter.number = static_cast<std::uint8_t>(number);
        adapter.handle = std::move(handle);
        IO_SCSI_CAPABILITIES capabilities{};
        std::uint32_t returned = 0;
        if (io_->control(adapter.handle.get(), IOCTL_SCSI_GET_CAPABILITIES, nullptr, 0,
                         &capabilities, sizeof capabilities, returned) &&
            returned >= offsetof(IO_SCSI_CAPABILITIES, AlignmentMask) + sizeof(ULONG) &&
            IsMask(capabilities.AlignmentMask)) {
            adapter.alignmentMask = capabilities.AlignmentMask;
        }
        adapters_.push_back(std::move(adapter));
        addAdapterUnits(adapters_.back(), adapters_.size() - 1);
    }
}

void SptiTransport::addAdapterUnits(Adapter& adapter, std::size_t slot) {
    constexpr std::size_t kFirstSize = 16 * 1024;
    constexpr std::size_t kLargestSize = 1024 * 1024;
    std::vector<std::uint8_t> buffer;
    for (std::size_t size = kFirstSize; size <= kLargestSize; size *= 2) {
        buffer.assign(size, 0);
        std::uint32_t returned = 0;
        if (io_->control(adapter.handle.get(), IOCTL_SCSI_GET_INQUIRY_DATA, nullptr, 0,
                         buffer.data(), static_cast<std::uint32_t>(buffer.size()), returned)) {
            buffer.resize(std::min<std::size_t>(returned, buffer.size()));
            break;
        }
        const std::uint32_t error = io_->lastError();
        buffer.clear();
        if (error != ERROR_INSUFFICIENT_BUFFER && error != ERROR_MORE_DATA)
            break;
    }
    for (const ListedUnit& unit : ParseAdapterInquiryData(buffer)) {
        Device device;
        device.adapter = adapter.number;
        device.pathId = unit.pathId;
        device.targetId = unit.targetId;
        device.lun = unit.lun;
        device.type = unit.type;
        device.adapterSlot = slot;
        devices_.push_back(std::move(device));
    }
}

void SptiTransport::enumerateClassDevices() {
    struct Kind {
        const char* prefix;
        std::uint8_t type;
    };
    static constexpr Kind kKinds[] = {
        {"\\\\.\\Tape", kSequentialAccess},
        {"\\\\.\\Changer", 0x08},
        {"\\\\.\\PhysicalDrive", 0x00},
    };
    for (const Kind& kind : kKinds) {
        unsigned missing = 0;
        for (unsigned number = 0; number < kMaxClassDevices && missing < kMissingAdaptersToStop;
             ++number) {
            const std::string path = kind.prefix + std::to_string(number);
            // Asking the address needs no access rights, and opening without them disturbs
            // no one using the device.
            const bool tape = kind.type == kSequentialAccess;
            DeviceHandle handle(*io_, io_->open(path, false));
            if (!handle.valid()) {
                if (IsAbsent(io_->lastError())) {
                    ++missing;
                } else {
                    missing = 0;
                    if (tape)
                        unplacedTapes_.push_back(path);
                }
                continue;
            }
            missing = 0;
            SCSI_ADDRESS address{};
            std::uint32_t returned = 0;
            if (!io_->control(handle.get(), IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &address,
                              sizeof address, returned) ||
                returned < offsetof(SCSI_ADDRESS, Lun) + 1) {
                if (tape)
                    unplacedTapes_.push_back(path);
                continue;
            }
            const auto match = std::find_if(devices_.begin(), devices_.end(), [&](const Device& d) {
                return d.adapter == address.PortNumber && d.pathId == address.PathId &&
                       d.targetId == address.TargetId && d.lun == address.Lun;
            });
            if (match != devices_.end()) {
                if (match->classPath.empty())
                    match->classPath = path;
                continue;
            }
            Device device;
            device.adapter = address.PortNumber;
            device.pathId = address.PathId;
            device.targetId = address.TargetId;
            device.lun = address.Lun;
            device.type = kind.type;
            device.classPath = path;
            devices_.push_back(std::move(device));
        }
    }
}

} // namespace zurvax

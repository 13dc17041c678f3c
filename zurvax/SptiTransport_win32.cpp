#include "zurvax/SptiTransport_win32.h"

// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <set>
#include <tuple>
#include <utility>

#include "zurvax/CommandTimeouts.h"

namespace zurvax {

DeviceHandle::DeviceHandle(DeviceHandle&& other) noexcept
    : io_(std::exchange(other.io_, nullptr)),
      value_(std::exchange(other.value_, kInvalidDeviceHandle)) {}

DeviceHandle& DeviceHandle::operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
        reset();
        io_ = std::exchange(other.io_, nullptr);
        value_ = std::exchange(other.value_, kInvalidDeviceHandle);
    }
    return *this;
}

void DeviceHandle::reset() {
    if (valid())
        io_->close(value_);
    io_ = nullptr;
    value_ = kInvalidDeviceHandle;
}

namespace {

// ERROR_NO_SUCH_DEVICE of the Windows SDK, which the mingw-w64 headers lack.
constexpr DWORD kErrorNoSuchDevice = 433;

// The pass-through request and the sense it brings back travel in one buffer; the filler
// keeps the sense on a 4-byte boundary, as the port driver expects.
struct SptdWithSense {
    SCSI_PASS_THROUGH_DIRECT sptd;
    ULONG filler;
    UCHAR sense[kSptiSenseBufferSize];
};

// The buffered request: the same header and sense, then the data itself.
struct SptWithSense {
    SCSI_PASS_THROUGH spt;
    ULONG filler;
    UCHAR sense[kSptiSenseBufferSize];
};
// The data starts on an 8-byte boundary after the sense.
constexpr std::size_t kBufferedDataOffset = (sizeof(SptWithSense) + 7) & ~std::size_t{7};

class Win32DeviceIo final : public DeviceIo {
public:
    DeviceHandleValue open(const std::string& path, bool readWrite) override {
        const HANDLE handle =
            ::CreateFileA(path.c_str(), readWrite ? GENERIC_READ | GENERIC_WRITE : 0,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        return reinterpret_cast<DeviceHandleValue>(handle);
    }

    DeviceHandleValue openExclusive(const std::string& path) override {
        const HANDLE handle = ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
        return reinterpret_cast<DeviceHandleValue>(handle);
    }

    bool control(DeviceHandleValue handle, std::uint32_t code, void* in, std::uint32_t inSize,
                 void* out, std::uint32_t outSize, std::uint32_t& returned) override {
        DWORD count = 0;
        const BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(handle), code, in, inSize, out,
                                          outSize, &count, nullptr);
        returned = count;
        return ok != FALSE;
    }

    void close(DeviceHandleValue handle) override {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle));
    }

    std::uint32_t lastError() override { return ::GetLastError(); }
};

bool IsAbsent(std::uint32_t error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case kErrorNoSuchDevice:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return true;
    default:
        return false;
    }
}

// What an adapter answers for a unit a class driver holds.
bool IsClaimedRefusal(std::uint32_t error) {
    return error == ERROR_INVALID_FUNCTION || error == ERROR_ACCESS_DENIED;
}

// What a pass-through direct request gets where the system cannot take its layout.
bool IsDirectRefusal(std::uint32_t error) {
    return error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_INVALID_PARAMETER;
}

// Another program holds the device: Windows refuses the share mode; Wine, on a node whose
// driver allows one opener (the st driver's EBUSY), reports a lock violation.
bool IsHeldElsewhere(std::uint32_t error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

constexpr std::uint8_t kSequentialAccess = 0x01;

std::string AdapterName(unsigned number) { return "\\\\.\\Scsi" + std::to_string(number) + ":"; }

// Peripheral qualifier 3: the target has no unit at this LUN and never will.
constexpr std::uint8_t kNoUnitQualifier = 3;

UCHAR DataInOf(DataDirection direction) {
    switch (direction) {
    case DataDirection::ToDevice:
        return SCSI_IOCTL_DATA_OUT;
    case DataDirection::FromDevice:
        return SCSI_IOCTL_DATA_IN;
    case DataDirection::None:
        return SCSI_IOCTL_DATA_UNSPECIFIED;
    }
    return SCSI_IOCTL_DATA_UNSPECIFIED;
}

ULONG TimeoutSeconds(const ScsiCommand& command) {
    const auto ms = PassThroughTimeout(command).count();
    const auto seconds = std::max<long long>(1, (static_cast<long long>(ms) + 999) / 1000);
    return static_cast<ULONG>(std::min<long long>(seconds, std::numeric_limits<ULONG>::max()));
}

bool IsMask(std::uint32_t mask) { return (mask & (mask + 1)) == 0 && mask <= 0xFFFF; }

// The first `count` bytes of an in-place aligned window of storage.
std::uint8_t* AlignedWindow(std::vector<std::uint8_t>& storage, std::size_t count,
                            std::uint32_t mask) {
    storage.assign(count + mask, 0);
    const auto base = reinterpret_cast<std::uintptr_t>(storage.data());
    return storage.data() + (((base + mask) & ~static_cast<std::uintptr_t>(mask)) - base);
}

// What the direct and the buffered request say alike: the unit, the CDB, the sense room,
// the direction and length of the data, the time-out.
template <typename PassThrough>
void FillRequest(PassThrough& request, std::uint8_t pathId, std::uint8_t targetId, std::uint8_t lun,
                 const ScsiCommand& command, std::size_t length) {
    const auto cdb = command.cdb();
    request.Length = sizeof(PassThrough);
    request.PathId = pathId;
    request.TargetId = targetId;
    request.Lun = lun;
    request.CdbLength = static_cast<UCHAR>(cdb.size());
    request.SenseInfoLength = kSptiSenseBufferSize;
    request.DataIn = DataInOf(length == 0 ? DataDirection::None : command.direction());
    request.DataTransferLength = static_cast<ULONG>(length);
    request.TimeOutValue = TimeoutSeconds(command);
    std::copy(cdb.begin(), cdb.end(), request.Cdb);
}

// The data length a command moves, whichever way.
std::size_t DataLength(const ScsiCommand& command) {
    switch (command.direction()) {
    case DataDirection::FromDevice:
        return command.dataIn().size();
    case DataDirection::ToDevice:
        return command.dataOut().size();
    case DataDirection::None:
        return 0;
    }
    return 0;
}

} // namespace

std::unique_ptr<DeviceIo> MakeWin32DeviceIo() { return std::make_unique<Win32DeviceIo>(); }

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

ScsiResult SptiErrorResult(std::uint32_t win32Error) {
    ScsiResult result;
    result.osErrorCode = static_cast<int>(win32Error);
    switch (win32Error) {
    case ERROR_ACCESS_DENIED:
        result.osError = OsError::PermissionDenied;
        break;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
        result.osError = OsError::TimedOut;
        break;
    case ERROR_NOT_READY:
        result.osError = OsError::NoDevice;
        break;
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
    case ERROR_BUS_RESET:
    case ERROR_ADAP_HDW_ERR:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_REQUEST_ABORTED:
        result.transport = TransportStatus::Error;
        result.driverStatus = win32Error;
        break;
    default:
        // A device that is gone is told the same way whether it went before or during a command.
        result.osError = IsAbsent(win32Error) ? OsError::NoDevice : OsError::Other;
        break;
    }
    return result;
}

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

std::uint32_t SptiTransport::alignmentOf(const Device& device) const {
    return device.adapterSlot ? adapters_[*device.adapterSlot].alignmentMask
                              : kUnknownAlignmentMask;
}

SptiTransport::Attempt SptiTransport::send(DeviceHandleValue handle, std::uint32_t alignmentMask,
                                           bool& buffered, const Device& device,
                                           const ScsiCommand& command) {
    if (buffered)
        return sendBuffered(handle, device, command);
    Attempt attempt = sendDirect(handle, alignmentMask, device, command);
    if (attempt.delivered || !IsDirectRefusal(attempt.error))
        return attempt;
    Attempt again = sendBuffered(handle, device, command);
    // A refusal of the buffered request too is the command's own (a length the adapter
    // cannot move, say): the direct way stays the one to try first.
    if (again.delivered)
        buffered = true;
    return again;
}

SptiTransport::Attempt SptiTransport::sendBuffered(DeviceHandleValue handle, const Device& device,
                                                   const ScsiCommand& command) {
    Attempt attempt;
    const std::size_t length = DataLength(command);
    if (length > std::numeric_limits<ULONG>::max() - kBufferedDataOffset) {
        attempt.result = SptiErrorResult(ERROR_INVALID_PARAMETER);
        return attempt;
    }
    std::vector<std::uint8_t> request(kBufferedDataOffset + length, 0);
    SCSI_PASS_THROUGH spt{};
    FillRequest(spt, device.pathId, device.targetId, device.lun, command, length);
    spt.DataBufferOffset = length == 0 ? 0 : kBufferedDataOffset;
    spt.SenseInfoOffset = offsetof(SptWithSense, sense);
    // The request's bytes are copied, not cast: the vector's storage holds no structure.
    std::memcpy(request.data(), &spt, sizeof spt);
    if (command.direction() == DataDirection::ToDevice && length != 0) {
        const auto out = command.dataOut();
        std::copy(out.begin(), out.end(), request.begin() + kBufferedDataOffset);
    }

    std::uint32_t returned = 0;
    const auto size = static_cast<std::uint32_t>(request.size());
    if (!io_->control(handle, IOCTL_SCSI_PASS_THROUGH, request.data(), size, request.data(), size,
                      returned)) {
        attempt.error = io_->lastError();
        attempt.result = SptiErrorResult(attempt.error);
        return attempt;
    }

    attempt.delivered = true;
    std::memcpy(&spt, request.data(), sizeof spt);
    ScsiResult& result = attempt.result;
    result.scsiStatus = spt.ScsiStatus;
    const std::size_t senseLength =
        std::min<std::size_t>(spt.SenseInfoLength, kSptiSenseBufferSize);
    const auto sense = request.begin() + offsetof(SptWithSense, sense);
    if (senseLength != 0)
        result.sense.assign(sense, sense + static_cast<std::ptrdiff_t>(senseLength));
    const std::size_t transferred = std::min<std::size_t>(spt.DataTransferLength, length);
    result.residual = length - transferred;
    if (command.direction() == DataDirection::FromDevice && transferred != 0) {
        const auto data = request.begin() + kBufferedDataOffset;
        std::copy(data, data + static_cast<std::ptrdiff_t>(transferred), command.dataIn().begin());
    }
    return attempt;
}

SptiTransport::Attempt SptiTransport::sendDirect(DeviceHandleValue handle,
                                                 std::uint32_t alignmentMask, const Device& device,
                                                 const ScsiCommand& command) {
    Attempt attempt;
    std::span<std::uint8_t> callerIn = command.dataIn();
    std::span<const std::uint8_t> callerOut = command.dataOut();
    const std::size_t length = DataLength(command);
    if (length > std::numeric_limits<ULONG>::max()) {
        attempt.result = SptiErrorResult(ERROR_INVALID_PARAMETER);
        return attempt;
    }

    // The port driver hands DataBuffer to the adapter's DMA as it is; the bounce buffer
    // meets the adapter's alignment where the caller's does not.
    void* data = nullptr;
    std::vector<std::uint8_t> bounce;
    if (length != 0) {
        const auto callerAddress = command.direction() == DataDirection::FromDevice
                                       ? reinterpret_cast<std::uintptr_t>(callerIn.data())
                                       : reinterpret_cast<std::uintptr_t>(callerOut.data());
        if ((callerAddress & alignmentMask) == 0) {
            // The port driver only reads a data-out buffer; the structure has one pointer.
            data = command.direction() == DataDirection::FromDevice
                       ? static_cast<void*>(callerIn.data())
                       : const_cast<std::uint8_t*>(callerOut.data());
        } else {
            std::uint8_t* window = AlignedWindow(bounce, length, alignmentMask);
            if (command.direction() == DataDirection::ToDevice) {
                std::copy(callerOut.begin(), callerOut.end(), window);
            }
            data = window;
        }
    }

    SptdWithSense request{};
    SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
    FillRequest(sptd, device.pathId, device.targetId, device.lun, command, length);
    sptd.DataBuffer = data;
    sptd.SenseInfoOffset = offsetof(SptdWithSense, sense);

    std::uint32_t returned = 0;
    if (!io_->control(handle, IOCTL_SCSI_PASS_THROUGH_DIRECT, &request, sizeof request, &request,
                      sizeof request, returned)) {
        attempt.error = io_->lastError();
        attempt.result = SptiErrorResult(attempt.error);
        return attempt;
    }

    attempt.delivered = true;
    ScsiResult& result = attempt.result;
    result.scsiStatus = sptd.ScsiStatus;
    const std::size_t senseLength =
        std::min<std::size_t>(sptd.SenseInfoLength, kSptiSenseBufferSize);
    if (senseLength != 0)
        result.sense.assign(request.sense, request.sense + senseLength);
    const std::size_t transferred = std::min<std::size_t>(sptd.DataTransferLength, length);
    result.residual = length - transferred;
    if (!bounce.empty() && command.direction() == DataDirection::FromDevice) {
        const auto* window = static_cast<const std::uint8_t*>(data);
        std::copy(window, window + transferred, callerIn.begin());
    }
    return attempt;
}

ScsiResult SptiTransport::sendThroughClass(Device& device, const ScsiCommand& command) {
    if (!device.classTried) {
        device.classTried = true;
        device.classHandle = DeviceHandle(*io_, io_->open(device.classPath, true));
        if (!device.classHandle.valid())
            device.classOpenError = io_->lastError();
    }
    if (!device.classHandle.valid())
        return SptiErrorResult(device.classOpenError);
    Attempt attempt =
        send(device.classHandle.get(), alignmentOf(device), device.classBuffered, device, command);
    if (attempt.delivered)
        device.throughClass = true;
    return std::move(attempt.result);
}

ClaimResult SptiTransport::claim(std::uint32_t index) {
    ClaimResult result;
    if (index >= devices_.size()) {
        result.failure = SptiErrorResult(ERROR_DEV_NOT_EXIST);
        return result;
    }
    Device& device = devices_[index];
    if (device.claimed)
        return result;
    if (device.classPath.rfind("\\\\.\\Tape", 0) != 0) {
        // Nothing to hold; but one of the tape devices that could not be placed may be this
        // unit's, and then other programs can reach the drive through it.
        result.lockUnavailable = device.type == kSequentialAccess && !unplacedTapes_.empty();
        return result;
    }
    // Our own shared handle would refuse the exclusive open like anybody else's.
    device.classHandle.reset();
    device.classTried = false;
    DeviceHandle exclusive(*io_, io_->openExclusive(device.classPath));
    if (!exclusive.valid()) {
        const std::uint32_t error = io_->lastError();
        if (IsHeldElsewhere(error))
            result.inUse = true;
        else
            result.failure = SptiErrorResult(error);
        return result;
    }
    device.classHandle = std::move(exclusive);
    device.classTried = true;
    device.claimed = true;
    return result;
}

void SptiTransport::release(std::uint32_t index) {
    if (index >= devices_.size() || !devices_[index].claimed)
        return;
    Device& device = devices_[index];
    // The next command through the class device opens it shared again.
    device.classHandle.reset();
    device.classTried = false;
    device.claimed = false;
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

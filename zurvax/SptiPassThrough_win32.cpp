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
#include <vector>

#include "zurvax/CommandTimeouts.h"

namespace zurvax {

namespace {

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

// What a pass-through direct request gets where the system cannot take its layout.
bool IsDirectRefusal(std::uint32_t error) {
    return error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_INVALID_PARAMETER;
}

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

} // namespace zurvax

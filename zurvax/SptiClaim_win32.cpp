#include "zurvax/SptiTransport_win32.h"

#include <windows.h>

#include <utility>

#include "zurvax/SptiParts_win32.h"

namespace zurvax {

namespace {

// Another program holds the device: Windows refuses the share mode; Wine, on a node whose
// driver allows one opener (the st driver's EBUSY), reports a lock violation.
bool IsHeldElsewhere(std::uint32_t error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

} // namespace

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

} // namespace zurvax

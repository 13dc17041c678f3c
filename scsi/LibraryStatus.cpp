#include "scsi/LibraryStatus.h"

#include "zurvax/ZurvaxStatus.h"

bool DeviceInUse(std::uint32_t status) { return status == ZURVAX_STATUS_DEVICE_IN_USE; }

bool ClaimedWithoutLock(std::uint32_t status) {
    return status == ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK;
}

bool DeviceWentAway(std::uint32_t status) {
    return status == ZURVAX_STATUS_NO_SUCH_DEVICE || status == ZURVAX_STATUS_TRANSPORT_ERROR ||
           status == ZURVAX_STATUS_TIMEOUT;
}

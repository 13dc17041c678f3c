// The library's devices the program lists: every sequential-access device whose product
// identification begins with the model name. Walked once by the main window's scan and by
// the unattended commands alike.
#pragma once

#include <functional>

#include "framework/afxwin.h"
#include "zurvax/ZurvaxApi.h"

struct ListedDevice {
    UINT index = 0;
    SCSI_PATH path{};
    INQUIRY_DATA inquiry{};
};

// What one library device index holds: the end of the library's list, a device the program
// does not list, or one it lists (device then filled in). An inquiry that fails calls
// onInquiryFailure(status), and the device is judged on what its zero-filled record holds.
enum class ProbeResult { End, Other, Listed };
ProbeResult ProbeDevice(UINT index, ListedDevice& device,
                        const std::function<void(UINT status)>& onInquiryFailure);

// Walks the library's device indices from 0 until the library says there are no more.
// An inquiry that fails calls onInquiryFailure(status); the device is then judged on what
// its zero-filled record holds. Every listed device calls onListed, in index order, as it
// is found.
void WalkListedDevices(const std::function<void(UINT status)>& onInquiryFailure,
                       const std::function<void(const ListedDevice&)>& onListed);

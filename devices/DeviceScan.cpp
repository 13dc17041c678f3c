// The device scan: lists every sequential-access device whose product identification
// begins with the model name, in library index order.
#include <cstring>
#include <memory>

#include "app/FirmwareApp.h"
#include "devices/DeviceList.h"
#include "devices/ListEntry.h"
#include "res/Texts.h"
#include "scsi/TapeError.h"
#include "ui/DeviceSelectDlg.h"

namespace {
constexpr char kModelName[] = "KMR-47000";
constexpr std::size_t kModelNameLength = sizeof kModelName - 1;
constexpr std::size_t kProductOffset = 16;
} // namespace

ProbeResult ProbeDevice(UINT index, ListedDevice& device,
                        const std::function<void(UINT status)>& onInquiryFailure) {
    if (GetDeviceType(index) == NO_DEVICE_TYPE) {
        return ProbeResult::End;
    }
    device.inquiry = INQUIRY_DATA{};
    const UINT status = ReadRawInquiryData(index, &device.inquiry);
    if (status == END_OF_DEVICE_LIST) {
        return ProbeResult::End;
    }
    if (status != SCSI_STATUS_OK) {
        // Judged on what the record holds: a zero-filled record is no tape drive.
        onInquiryFailure(status);
    }
    device.index = index;
    device.path = GetScsiPath(index);
    const bool listed =
        (device.inquiry.bytes[0] & kDeviceTypeMask) == kSequentialAccess &&
        std::memcmp(&device.inquiry.bytes[kProductOffset], kModelName, kModelNameLength) == 0;
    return listed ? ProbeResult::Listed : ProbeResult::Other;
}

void WalkListedDevices(const std::function<void(UINT status)>& onInquiryFailure,
                       const std::function<void(const ListedDevice&)>& onListed) {
    auto device = std::make_unique<ListedDevice>();
    for (UINT index = 0;; ++index) {
        const ProbeResult probe = ProbeDevice(index, *device, onInquiryFailure);
        if (probe == ProbeResult::End) {
            break;
        }
        if (probe == ProbeResult::Listed) {
            onListed(*device);
        }
    }
}

void CDeviceSelectDlg::OnRescan() {
    // Rescanning under a download would reselect the first drive and move the device index
    // the worker addresses.
    if (!m_bDownloading) {
        ScanDevices();
    }
}

void CDeviceSelectDlg::ScanDevices() {
    bool found = false;
    m_lstDevices.ResetContent();
    WalkListedDevices([](UINT status) { ReportTapeError(nullptr, status, theApp.m_nDeviceId); },
                      [&](const ListedDevice& device) {
                          found = true;
                          m_lstDevices.InsertString(
                              -1, FormatListEntry(device.index, device.path, device.inquiry));
                      });

    if (found) {
        m_lstDevices.SetCurSel(0);
        OnSelchangeDeviceList();
    } else {
        MessageBox(res::text::kNoDevicesFound, nullptr, MB_OK);
    }
}

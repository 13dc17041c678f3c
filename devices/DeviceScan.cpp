// The device scan: lists every sequential-access device whose product identification
// begins with the model name, in library index order.
#include <cstring>
#include <memory>

#include "devices/ListEntry.h"
#include "res/Texts.h"
#include "scsi/TapeError.h"
#include "ui/DeviceSelectDlg.h"

namespace {
constexpr char kModelName[] = "KMR-47000";
constexpr std::size_t kModelNameLength = sizeof kModelName - 1;
constexpr std::size_t kProductOffset = 16;
constexpr uint8_t kDeviceTypeMask = 0x1F;
constexpr uint8_t kSequentialAccess = 1;
} // namespace

void CDeviceSelectDlg::OnRescan() {
    // Rescanning under a download would reselect the first drive and move the device index
    // the worker addresses.
    if (!m_bDownloading) {
        ScanDevices();
    }
}

void CDeviceSelectDlg::ScanDevices() {
    auto inquiry = std::make_unique<INQUIRY_DATA>();
    bool found = false;

    m_lstDevices.ResetContent();
    for (UINT index = 0;; ++index) {
        if (GetDeviceType(index) == NO_DEVICE_TYPE) {
            break;
        }
        *inquiry = INQUIRY_DATA{};
        const UINT status = ReadRawInquiryData(index, inquiry.get());
        if (status == END_OF_DEVICE_LIST) {
            break;
        }
        if (status != SCSI_STATUS_OK) {
            // Judged on what the record holds: a zero-filled record is no tape drive.
            ReportTapeError(nullptr, status);
        }
        const SCSI_PATH path = GetScsiPath(index);
        const bool listed =
            (inquiry->bytes[0] & kDeviceTypeMask) == kSequentialAccess &&
            std::memcmp(&inquiry->bytes[kProductOffset], kModelName, kModelNameLength) == 0;
        if (listed) {
            found = true;
            m_lstDevices.InsertString(-1, FormatListEntry(index, path, *inquiry));
        }
    }

    if (found) {
        m_lstDevices.SetCurSel(0);
        OnSelchangeDeviceList();
    } else {
        MessageBox(res::text::kNoDevicesFound, nullptr, MB_OK);
    }
}

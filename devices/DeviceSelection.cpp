// The selection of a drive in the list: reads it afresh, shows model and revision, makes it
// the current device, qualifies it and, when it is ready, enables Upgrade.
#include <cstring>
#include <memory>

#include "app/FirmwareApp.h"
#include "devices/ListEntry.h"
#include "res/Texts.h"
#include "scsi/RunObserver.h"
#include "scsi/TapeError.h"
#include "ui/DeviceSelectDlg.h"

namespace {
constexpr DWORD kReadinessPauseMs = 500;

// A changer qualifies only with the reference identification, which is empty: compared
// over the text's own length, so only an empty text matches.
bool MatchesReference(const CString& text, const char* reference, std::size_t referenceSize) {
    const auto length = static_cast<std::size_t>(text.GetLength());
    return length <= referenceSize && std::memcmp(text.c_str(), reference, length) == 0;
}
} // namespace

void CDeviceSelectDlg::OnSelchangeDeviceList() {
    CString entry;
    const int selection = m_lstDevices.GetCurSel();
    if (selection != LB_ERR) {
        m_lstDevices.GetText(selection, entry);
    }

    if (IsDeviceEntry(entry)) {
        const UINT index = EntryDeviceIndex(entry);
        auto inquiry = std::make_unique<INQUIRY_DATA>();
        *inquiry = INQUIRY_DATA{};
        const UINT status = ReadRawInquiryData(index, inquiry.get());
        theApp.m_nDeviceId = index;

        CString vendor;
        // Never fetched when the inquiry failed: an all-zero path then stands in for it.
        SCSI_PATH path{};
        if (status != SCSI_STATUS_OK) {
            ReportTapeError(GetSafeHwnd(), status, theApp.m_nDeviceId);
        } else {
            path = GetScsiPath(index);
            m_strModel.Format("%.16s", reinterpret_cast<const char*>(&inquiry->bytes[16]));
            m_strRevision.Format("%.4s", reinterpret_cast<const char*>(&inquiry->bytes[32]));
            vendor.Format("%.8s", reinterpret_cast<const char*>(&inquiry->bytes[8]));
        }
        vendor.TrimRight();
        m_strModel.TrimRight();

        static constexpr char kReferenceVendor[8] = {};
        static constexpr char kReferenceProduct[16] = {};
        const uint8_t type = inquiry->bytes[0] & kDeviceTypeMask;
        const bool qualified =
            type == kSequentialAccess ||
            (type == kMediumChanger &&
             MatchesReference(vendor, kReferenceVendor, sizeof kReferenceVendor) &&
             MatchesReference(m_strModel, kReferenceProduct, sizeof kReferenceProduct));

        if (!qualified) {
            CurrentRunObserver().Refused(Refusal::WrongDevice);
            MessageBox(res::text::kWrongDevice, res::text::kWrongDeviceCaption,
                       MB_OK | MB_ICONSTOP);
            m_btnUpgrade.EnableWindow(FALSE);
        } else {
            TestUnitReady(index);
            Sleep(kReadinessPauseMs);
            const UINT ready = TestUnitReady(index);
            if (ready == SCSI_STATUS_OK || ready == MEDIUM_NOT_PRESENT ||
                ready == LOGICAL_UNIT_NOT_READY_CAUSE_NOT_REPORTABLE) {
                m_btnUpgrade.EnableWindow(TRUE);
                if (path.bytes[3] == 1) {
                    m_btnUpgrade.EnableWindow(FALSE);
                }
            } else {
                CurrentRunObserver().Refused(Refusal::NotReady);
                ReportTapeError(GetSafeHwnd(), ready, theApp.m_nDeviceId);
            }
        }
    } else {
        // The fields and the button still describe the drive chosen before, while another
        // entry is highlighted: Upgrade would flash a drive the operator is not looking at.
        m_btnUpgrade.EnableWindow(FALSE);
    }

    UpdateData(FALSE);
}

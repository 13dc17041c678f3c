// The Upgrade Firmware button: readiness test, minimum revision gate, confirmation, then
// the download under the progress window, and a fresh scan.
#include <cstring>
#include <memory>
#include <string_view>

#include "app/FirmwareApp.h"
#include "res/Texts.h"
#include "scsi/LibraryStatus.h"
#include "scsi/RunObserver.h"
#include "scsi/TapeError.h"
#include "ui/DeviceSelectDlg.h"
#include "ui/ProgressDlg.h"
#include "upgrade/DownloadWorker.h"
#include "upgrade/Registry.h"

namespace {
constexpr char kDefaultMinimumRevision[] = "0102";
constexpr DWORD kMinimumRevisionSize = 11;
constexpr char kRevisionValueName[] = "Revision";

// The text of a buffer that may hold no zero byte at all.
CString BoundedText(const BYTE* buffer, std::size_t size) {
    std::size_t length = 0;
    while (length < size && buffer[length] != 0) {
        ++length;
    }
    return CString(std::string_view(reinterpret_cast<const char*>(buffer), length));
}
} // namespace

void CDeviceSelectDlg::OnUpgradeFirmware() {
    // The previous worker may still be in its closing steps (its signal pulse, its outcome
    // box): a new run started now could lose its signal to that worker's late reset.
    if (m_bDownloading || AfxWorkerThreadsRunning()) {
        return;
    }
    auto progress = std::make_unique<CProgressDlg>(nullptr);
    ResetEvent(theApp.m_hUpgradeEvent);

    [&] {
        const UINT status = TestUnitReady(theApp.m_nDeviceId);
        if (status != SCSI_STATUS_OK && status != MEDIUM_NOT_PRESENT) {
            CurrentRunObserver().Refused(Refusal::NotReady);
            ReportTapeError(nullptr, status, theApp.m_nDeviceId);
            return;
        }

        BYTE minimum[kMinimumRevisionSize] = {};
        std::memcpy(minimum, kDefaultMinimumRevision, sizeof kDefaultMinimumRevision - 1);
        ReadToolRegistryValue(kRevisionValueName, minimum, kMinimumRevisionSize);

        CString minimumRevision = BoundedText(minimum, sizeof minimum);
        minimumRevision.MakeUpper();
        m_strRevision.MakeUpper();

        // Only the first characters are compared, as strings of one character each.
        if (m_strRevision.Left(1).Compare(minimumRevision.Left(1)) < 0) {
            CurrentRunObserver().Refused(Refusal::BelowMinimum);
            MessageBox(res::text::kNotSupported, nullptr, MB_OK);
            return;
        }

        // Nothing else may talk to the drive while its microcode is replaced: backup software
        // that opens it mid-download could rewind or reset it. The worker gives it back.
        const UINT claim = ClaimDevice(theApp.m_nDeviceId);
        if (ClaimedWithoutLock(claim)) {
            CurrentRunObserver().ClaimedWithoutLock();
            MessageBox(res::text::kDriveNotLocked, nullptr, MB_OK | MB_ICONEXCLAMATION);
        } else if (claim != SCSI_STATUS_OK) {
            if (DeviceInUse(claim)) {
                CurrentRunObserver().Refused(Refusal::InUse);
                MessageBox(res::text::kDriveInUse, nullptr, MB_OK | MB_ICONSTOP);
            } else {
                CurrentRunObserver().Refused(Refusal::NotClaimed);
                ReportTapeError(nullptr, claim, theApp.m_nDeviceId);
            }
            return;
        }

        if (MessageBox(res::text::kConfirmUpgrade, res::text::kConfirmCaption,
                       MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
            ReleaseDevice(theApp.m_nDeviceId);
            return;
        }

        CurrentRunObserver().Phase(RunPhase::Claimed);
        if (AfxBeginThread(FirmwareDownloadThread, this, THREAD_PRIORITY_HIGHEST, 0, 0, nullptr) ==
            nullptr) {
            ReleaseDevice(theApp.m_nDeviceId);
            // The progress window would wait for ever for a worker that does not exist.
            MessageBox(res::text::kThreadNotStarted, nullptr, MB_OK | MB_ICONSTOP);
            return;
        }
        m_bDownloading = true;
        progress->DoModal();
        m_bDownloading = false;
        ScanDevices();
    }();

    if (theApp.m_bUpgradeDone) {
        m_btnUpgrade.EnableWindow(FALSE);
    }
}

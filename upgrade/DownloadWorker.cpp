#include "upgrade/DownloadWorker.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "app/FirmwareApp.h"
#include "res/Texts.h"
#include "scsi/LibraryStatus.h"
#include "scsi/RunObserver.h"
#include "scsi/TapeError.h"
#include "zurvax/ZurvaxApi.h"

namespace {

constexpr UINT kChunkSize = 8192;
constexpr DWORD kSettleMs = 1000;
constexpr DWORD kPollIntervalMs = 2000;
constexpr BYTE kPollRetries = 150;
constexpr DWORD kSignalHoldMs = 2000;
constexpr uint8_t kBufferId = 0;

bool IsGood(UINT status) { return status == SCSI_STATUS_OK || status == MEDIUM_NOT_PRESENT; }

// Sends the image chunk by chunk, each verified before the next is read. Returns true
// when every chunk was written and read back equal; stopped tells a stop asked for.
bool TransferImage(CFile& image, DWORD length, bool& stopped) {
    auto transfer = std::make_unique<BYTE[]>(kChunkSize);
    auto readBack = std::make_unique<BYTE[]>(kChunkSize);
    std::memset(transfer.get(), 0, kChunkSize);
    std::memset(readBack.get(), 0, kChunkSize);

    DWORD offset = 0;
    for (DWORD position = 0; position < length; position += kChunkSize) {
        if (CurrentRunObserver().StopBeforeCommit()) {
            stopped = true;
            return false;
        }
        // Only what the file really gave is ever sent: a failed or short read (the file
        // shrank, or the disk failed) ends the transfer like a failed chunk.
        const UINT expected = std::min<DWORD>(kChunkSize, length - position);
        const UINT bytesRead = image.Read(transfer.get(), expected);
        if (bytesRead != expected) {
            AfxMessageBox(res::text::kImageReadFailed);
            return false;
        }
        UINT status = WriteBuffer(theApp.m_nDeviceId, BUFFER_MODE_DATA, kBufferId, offset,
                                  bytesRead, transfer.get());
        if (!IsGood(status)) {
            ReportTapeError(nullptr, status, theApp.m_nDeviceId);
            return false;
        }
        // A READ BUFFER that delivers nothing (a failure the status test lets through, such
        // as MEDIUM_NOT_PRESENT) would leave the previous chunk here, and a repeating image
        // would pass the compare with bytes the drive never took. A read the library calls
        // good moved the whole chunk (a short transfer is a failure), and a failed one leaves
        // the first byte as it was set here, so one byte that cannot equal what was sent is
        // enough for a read that delivered nothing, or only part, to fail the compare,
        // without a pass over the whole chunk.
        readBack[0] = static_cast<BYTE>(~transfer[0]);
        status = ReadBuffer(theApp.m_nDeviceId, BUFFER_MODE_DATA, kBufferId, offset, bytesRead,
                            readBack.get());
        if (!IsGood(status)) {
            ReportTapeError(nullptr, status, theApp.m_nDeviceId);
            return false;
        }
        // The whole chunk size is compared, also behind a short last chunk: both buffers
        // hold there what the previous chunk left (or zeros), so any stray byte shows.
        if (std::memcmp(transfer.get(), readBack.get(), kChunkSize) != 0) {
            AfxMessageBox(res::text::kReadBackMismatch);
            return false;
        }
        offset += bytesRead;
        ++theApp.m_nChunksSent;
    }
    return true;
}

// The drive the request claimed, given back once the download is over (or as the worker
// ends, whichever way). The index is kept: after the worker's signal the main window may
// already have chosen another drive.
class ClaimedDevice {
public:
    ClaimedDevice() : m_index(theApp.m_nDeviceId) {}
    ClaimedDevice(const ClaimedDevice&) = delete;
    ClaimedDevice& operator=(const ClaimedDevice&) = delete;
    ~ClaimedDevice() { Release(); }
    void Release() {
        if (m_claimed) {
            ReleaseDevice(m_index);
            m_claimed = false;
        }
    }

private:
    UINT m_index;
    bool m_claimed = true;
};

} // namespace

bool CommitRejected(UINT status) {
    if (status == SCSI_STATUS_OK || status == MEDIUM_NOT_PRESENT) {
        return false;
    }
    if (status <= 0xFFFF) {
        const UINT asc = status >> 8;
        return !(asc == 0x29 || status == 0x3F01);
    }
    return !DeviceWentAway(status);
}

UINT FirmwareDownloadThread(void* pParam) {
    (void)pParam;
    ClaimedDevice claimed;
    CFile image;
    theApp.m_nChunksSent = 0;
    theApp.m_bCommitTaken = 0;
    // Other readers are welcome (one image may go to several drives at once), writers not.
    if (!image.Open(theApp.m_strImagePath, CFile::modeRead | CFile::shareDenyWrite)) {
        AfxMessageBox(res::text::kImageNotOpened);
        // Given back before the signal, as on every other path: once the main window sees
        // it, it may claim the drive again.
        claimed.Release();
        SetEvent(theApp.m_hUpgradeEvent);
        return 1;
    }
    const DWORD length = image.GetLength();
    theApp.m_nChunksTotal = length / kChunkSize + (length % kChunkSize != 0 ? 1 : 0);
    if (length == 0) {
        // Nothing to send, but a commit would make the drive activate whatever an earlier,
        // aborted download left in its buffer: refuse before any device command.
        AfxMessageBox(res::text::kImageEmpty);
        claimed.Release();
        SetEvent(theApp.m_hUpgradeEvent);
        return 1;
    }

    bool complete = false;
    bool stopped = false;
    RunObserver& observer = CurrentRunObserver();
    UINT status = TestUnitReady(theApp.m_nDeviceId);
    if (!IsGood(status)) {
        ReportTapeError(nullptr, status, theApp.m_nDeviceId);
    } else {
        observer.Phase(RunPhase::TransferStarted);
        if (TransferImage(image, length, stopped)) {
            // Where the open keeps writers out only by advice, another program may have rewritten
            // the image meanwhile: the drive would hold chunks of two files, each verified.
            if (image.HasChanged()) {
                AfxMessageBox(res::text::kImageChanged);
            } else if (observer.StopBeforeCommit()) {
                stopped = true;
            } else {
                // Said before it goes out: from here on the drive may take the new code, whatever
                // the call answers or however the process ends.
                observer.Phase(RunPhase::CommitSent);
                status = WriteBuffer(theApp.m_nDeviceId, BUFFER_MODE_DOWNLOAD_MICROCODE_SAVE,
                                     kBufferId, 0, 0, nullptr);
                if (CommitRejected(status)) {
                    // A drive that refuses the image keeps its old code: never call that a success.
                    ReportTapeError(nullptr, status, theApp.m_nDeviceId);
                } else {
                    theApp.m_bCommitTaken = 1;
                    Sleep(kSettleMs);
                    theApp.m_bUpgradeDone = 1;
                    complete = true;
                }
            }
        }
    }
    image.Close();

    // Every path that reached the drive waits for it to answer before anything else.
    observer.Phase(RunPhase::Polling);
    status = TestUnitReady(theApp.m_nDeviceId);
    for (BYTE retries = kPollRetries; !IsGood(status) && retries > 0; --retries) {
        Sleep(kPollIntervalMs);
        status = TestUnitReady(theApp.m_nDeviceId);
    }

    const bool success = complete && IsGood(status);
    observer.Outcome(theApp.m_bCommitTaken != 0, IsGood(status), stopped);
    observer.Phase(RunPhase::Ended);
    if (!success) {
        theApp.m_bUpgradeDone = 0;
    }

    claimed.Release();
    SetEvent(theApp.m_hUpgradeEvent);
    Sleep(kSignalHoldMs);
    ResetEvent(theApp.m_hUpgradeEvent);

    AfxMessageBox(success ? res::text::kUpgradeSucceeded : res::text::kUpgradeFailed);
    return 0;
}

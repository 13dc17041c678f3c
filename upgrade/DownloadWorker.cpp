#include "upgrade/DownloadWorker.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "app/FirmwareApp.h"
#include "res/Texts.h"
#include "scsi/ScsiContract.h"
#include "scsi/TapeError.h"
#include "scsi/LibraryStatus.h"
#include "upgrade/Sha256.h"

namespace {

constexpr UINT kChunkSize = 8192;
constexpr DWORD kSettleMs = 1000;
constexpr DWORD kPollIntervalMs = 2000;
constexpr BYTE kPollRetries = 150;
constexpr DWORD kSignalHoldMs = 2000;
constexpr uint8_t kBufferId = 0;

bool IsGood(UINT status) { return status == SCSI_STATUS_OK || status == MEDIUM_NOT_PRESENT; }

// Sends the image chunk by chunk, each verified before the next is read. Returns true
// when every chunk was written and read back equal; sent then has the digest of every byte
// sent.
bool TransferImage(CFile& image, DWORD length, Sha256::Digest& sent) {
    Sha256 digest;
    auto transfer = std::make_unique<BYTE[]>(kChunkSize);
    auto readBack = std::make_unique<BYTE[]>(kChunkSize);
    std::memset(transfer.get(), 0, kChunkSize);
    std::memset(readBack.get(), 0, kChunkSize);

    DWORD offset = 0;
    for (DWORD position = 0; position < length; position += kChunkSize) {
        // Only what the file really gave is ever sent: a failed or short read (the file
        // shrank, or the disk failed) ends the transfer like a failed chunk.
        const UINT expected = std::min<DWORD>(kChunkSize, length - position);
        const UINT bytesRead = image.Read(transfer.get(), expected);
        if (bytesRead != expected) {
            AfxMessageBox(res::text::kImageReadFailed);
            return false;
        }
        digest.Update(transfer.get(), bytesRead);
        UINT status = WriteBuffer(theApp.m_nDeviceId, BUFFER_MODE_DATA, kBufferId, offset, bytesRead,
                                  transfer.get());
        if (!IsGood(status)) {
            ReportTapeError(nullptr, status);
            return false;
        }
        // A READ BUFFER that delivers nothing (a failure the status test lets through, such
        // as MEDIUM_NOT_PRESENT) would leave the previous chunk here, and a repeating image
        // would pass the compare with bytes the drive never took: start from bytes that
        // cannot equal what was sent.
        for (UINT i = 0; i < bytesRead; ++i) {
            readBack[i] = static_cast<BYTE>(~transfer[i]);
        }
        status = ReadBuffer(theApp.m_nDeviceId, BUFFER_MODE_DATA, kBufferId, offset, bytesRead,
                            readBack.get());
        if (!IsGood(status)) {
            ReportTapeError(nullptr, status);
            return false;
        }
        // The whole chunk size is compared, also behind a short last chunk: both buffers
        // hold there what the previous chunk left (or zeros), so any stray byte shows.
        if (std::memcmp(transfer.get(), readBack.get(), kChunkSize) != 0) {
            AfxMessageBox(res::text::kReadBackMismatch);
            return false;
        }
        offset += bytesRead;
    }
    sent = digest.Finish();
    return true;
}

// Whether the file still holds what was sent. Where the exclusive open is only advisory
// (POSIX), another program can rewrite the image during the transfer: the drive would get
// chunks of two files, each verified. Read through the same open, so a file replaced by
// another name still counts as unchanged: what was sent is what this open shows.
bool ImageUnchanged(CFile& image, DWORD length, const Sha256::Digest& sent) {
    if (image.GetLength() != length || !image.SeekToBegin()) {
        return false;
    }
    auto buffer = std::make_unique<BYTE[]>(kChunkSize);
    Sha256 digest;
    for (DWORD position = 0; position < length; position += kChunkSize) {
        const UINT expected = std::min<DWORD>(kChunkSize, length - position);
        if (image.Read(buffer.get(), expected) != expected) {
            return false;
        }
        digest.Update(buffer.get(), expected);
    }
    return digest.Finish() == sent;
}

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
    CFile image;
    if (!image.Open(res::kFirmwareImageName, CFile::modeRead | CFile::shareExclusive)) {
        AfxMessageBox(res::text::kImageNotOpened);
        SetEvent(theApp.m_hUpgradeEvent);
        return 1;
    }
    const DWORD length = image.GetLength();
    if (length == 0) {
        // Nothing to send, but a commit would make the drive activate whatever an earlier,
        // aborted download left in its buffer: refuse before any device command.
        AfxMessageBox(res::text::kImageEmpty);
        SetEvent(theApp.m_hUpgradeEvent);
        return 1;
    }

    bool complete = false;
    Sha256::Digest sent{};
    UINT status = TestUnitReady(theApp.m_nDeviceId);
    if (!IsGood(status)) {
        ReportTapeError(nullptr, status);
    } else if (TransferImage(image, length, sent)) {
        if (!ImageUnchanged(image, length, sent)) {
            AfxMessageBox(res::text::kImageChanged);
        } else {
            status = WriteBuffer(theApp.m_nDeviceId, BUFFER_MODE_DOWNLOAD_MICROCODE_SAVE, kBufferId,
                                 0, 0, nullptr);
            if (CommitRejected(status)) {
                // A drive that refuses the image keeps its old code: never call that a success.
                ReportTapeError(nullptr, status);
            } else {
                Sleep(kSettleMs);
                theApp.m_bUpgradeDone = 1;
                complete = true;
            }
        }
    }
    image.Close();

    // Every path that reached the drive waits for it to answer before anything else.
    status = TestUnitReady(theApp.m_nDeviceId);
    for (BYTE retries = kPollRetries; !IsGood(status) && retries > 0; --retries) {
        Sleep(kPollIntervalMs);
        status = TestUnitReady(theApp.m_nDeviceId);
    }

    const bool success = complete && IsGood(status);
    if (!success) {
        theApp.m_bUpgradeDone = 0;
    }

    SetEvent(theApp.m_hUpgradeEvent);
    Sleep(kSignalHoldMs);
    ResetEvent(theApp.m_hUpgradeEvent);

    AfxMessageBox(success ? res::text::kUpgradeSucceeded : res::text::kUpgradeFailed);
    return 0;
}

// The download worker: writes the firmware image to theApp.m_nDeviceId in 8192-byte
// chunks, reads each back and compares it, commits, polls the drive until it is ready,
// signals theApp.m_hUpgradeEvent and tells the outcome.
#pragma once

#include "framework/afxwin.h"

// Thread procedure for AfxBeginThread; the parameter is not used. The drive was claimed by
// the request (ClaimDevice); the worker releases it as it ends. Returns 1 when the image
// could not be opened or is empty (no device command was sent), 0 on every other path.
UINT FirmwareDownloadThread(void* pParam);

// Whether a commit's status says the drive refused the new microcode. Accepted: GOOD,
// MEDIUM_NOT_PRESENT, the resets a drive reports while it activates new code (unit
// attention 29/xx, microcode changed 3F/01), and a library status that says the drive went
// away during the command (it may be restarting with the new code; the poll decides).
bool CommitRejected(UINT status);

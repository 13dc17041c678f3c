// The application object and the state the windows and the download worker share.
#pragma once

#include <atomic>

#include "framework/afxwin.h"

class CFirmwareApp : public CWinApp {
public:
    CFirmwareApp();
    ~CFirmwareApp() override = default;

    // The whole life of the program: one modal run of the main dialog. Returns FALSE so
    // that no message pump follows.
    BOOL InitInstance() override;
    // The process's exit code: 0, or why the program could not do its work.
    int ExitInstance() override { return m_nExitCode; }

    // Shared with the download worker. No lock guards them: the order of the program's
    // steps does (the worker settles m_bUpgradeDone before it signals m_hUpgradeEvent, and
    // the user-interface thread reads it only after the progress window has seen that
    // signal; m_nDeviceId changes only while no worker runs).
    BOOL m_bUpgradeDone = 0;          // 1 once a download completed and was committed
    HANDLE m_hUpgradeEvent = nullptr; // manual-reset; signalled when the worker has finished
    UINT m_nDeviceId = 0;             // library device index of the drive chosen last

    static constexpr int kExitNoDeviceLibrary = 2; // the device source could not be opened
    int m_nExitCode = 0;

    // The image the worker sends: the fixed name in the current folder, unless the unattended
    // command line names another file.
    CString m_strImagePath;
    // What the worker got to, for the unattended commands to tell apart a download that failed
    // with the old firmware still running from one whose commit the drive took: written by the
    // worker, read once it has ended (or, the chunk count, while it runs).
    std::atomic<UINT> m_nChunksSent{0};
    UINT m_nChunksTotal = 0;
    BOOL m_bCommitTaken = 0; // the commit was sent and not refused

    DECLARE_MESSAGE_MAP()
};

extern CFirmwareApp theApp;

// The main window's modal run, from its creation to its end, with theApp.m_pMainWnd naming
// it meanwhile. Defined with the main window (ui/), so that the start-up, which every window
// reads its shared state from, names no window itself.
void RunMainWindow();

// The application object and the state the windows and the download worker share.
#pragma once

#include "framework/afxwin.h"

class CFirmwareApp : public CWinApp {
public:
    CFirmwareApp() = default;
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

    DECLARE_MESSAGE_MAP()
};

extern CFirmwareApp theApp;

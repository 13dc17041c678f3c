#include "app/FirmwareApp.h"

#include "framework/Pictures.h"
#include "framework/Templates.h"
#include "res/Templates.h"
#include "res/TerminalPictures.h"
#include "res/Texts.h"

CFirmwareApp theApp;

CFirmwareApp::CFirmwareApp() : m_strImagePath(res::kFirmwareImageName) {
    // The program's windows are made from its own templates and pictures wherever a model
    // window system builds them (on Windows the executable's resources hold the same).
    fw::InstallDialogTemplates(res::AllDialogTemplates());
    fw::InstallPictures(res::TerminalPictures());
}

#define ID_HELP 0xE146
BEGIN_MESSAGE_MAP(CFirmwareApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

BOOL CFirmwareApp::InitInstance() {
    m_bUpgradeDone = 0;
    m_nDeviceId = 0;
    m_nExitCode = 0;

    m_hUpgradeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (m_hUpgradeEvent == nullptr) {
        // Without the event the progress window could never learn that a download ended:
        // refuse to start rather than risk a window that never closes.
        AfxMessageBox(res::text::kEventNotCreated, MB_OK | MB_ICONSTOP);
        return FALSE;
    }
    RunMainWindow();
    return FALSE;
}

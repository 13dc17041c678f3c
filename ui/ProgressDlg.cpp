#include "ui/ProgressDlg.h"

#include "app/FirmwareApp.h"
#include "res/Texts.h"

namespace {
constexpr UINT_PTR kTickTimer = 1;
constexpr UINT kTickMs = 100;
constexpr DWORD kSignalWaitMs = 100;
} // namespace

BEGIN_MESSAGE_MAP(CProgressDlg, CDialog)
    ON_WM_TIMER()
    ON_WM_CANCELMODE()
    ON_WM_CLOSE()
END_MESSAGE_MAP()

void CProgressDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_WARNING_TEXT, m_editWarning);
    DDX_Control(pDX, IDC_ANIMATION, m_animDownload);
    DDX_Control(pDX, IDC_PROGRESS, m_progDownload);
}

BOOL CProgressDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_nProgressPos = 0;
    m_bSignalSeen = false;
    ResetEvent(theApp.m_hUpgradeEvent);
    m_editWarning.SetWindowText(res::text::kDownloadWarning);
    m_animDownload.Open(DataFilePath(res::kAnimationName));
    SetTimer(kTickTimer, kTickMs, nullptr);
    return TRUE;
}

void CProgressDlg::OnTimer(UINT_PTR nIDEvent) {
    if (WaitForSingleObject(theApp.m_hUpgradeEvent, kSignalWaitMs) == WAIT_TIMEOUT) {
        const BYTE old = m_nProgressPos++;
        if (old >= 100) {
            m_nProgressPos = 0;
        }
        m_progDownload.SetPos(m_nProgressPos);
    } else {
        m_bSignalSeen = true;
        PostMessage(WM_CLOSE, 0, 0);
    }
    CDialog::OnTimer(nIDEvent);
}

void CProgressDlg::OnCancelMode() { CDialog::OnCancelMode(); }

void CProgressDlg::OnClose() {
    if (m_bSignalSeen) {
        EndDialog(IDCANCEL);
    }
}

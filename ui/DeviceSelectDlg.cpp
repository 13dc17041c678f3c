#include "ui/DeviceSelectDlg.h"

#include "app/FirmwareApp.h"
#include "res/Texts.h"
#include "scsi/DeviceLibrary.h"
#include "ui/AgreementDlg.h"

void RunMainWindow() {
    CDeviceSelectDlg dlg(nullptr);
    theApp.m_pMainWnd = &dlg;
    dlg.DoModal();
    theApp.m_pMainWnd = nullptr;
}

CDeviceSelectDlg::CDeviceSelectDlg(CWnd* pParent)
    : CDialog(IDD_DEVICE_DIALOG, pParent), m_strModel(""), m_strRevision(""), m_strHeading(""),
      m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME)) {}

void CDeviceSelectDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_UPGRADE, m_btnUpgrade);
    DDX_Control(pDX, IDC_DEVICE_LIST, m_lstDevices);
    DDX_Text(pDX, IDC_MODEL, m_strModel);
    DDX_Text(pDX, IDC_REVISION, m_strRevision);
    DDX_Text(pDX, IDC_HEADING, m_strHeading);
}

BEGIN_MESSAGE_MAP(CDeviceSelectDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_LBN_SELCHANGE(IDC_DEVICE_LIST, OnSelchangeDeviceList)
    ON_BN_CLICKED(IDCANCEL, OnRescan)
    ON_BN_CLICKED(IDC_UPGRADE, OnUpgradeFirmware)
END_MESSAGE_MAP()

BOOL CDeviceSelectDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    bool accepted = false;
    CAgreementDlg agreement(nullptr);
    for (;;) {
        if (agreement.DoModal() != IDCANCEL) {
            accepted = true;
            break;
        }
        if (MessageBox(res::text::kDeclineQuestion, res::text::kMakerCaption,
                       MB_YESNO | MB_ICONINFORMATION) == IDNO) {
            EndDialog(IDOK);
            break;
        }
    }

    if (accepted) {
        const char model[16] = {};
        m_strHeading.Format(res::text::kHeadingFormat, model);
        m_btnUpgrade.EnableWindow(FALSE);
        UpdateData(FALSE);
        if (OpenDeviceLibrary(*this)) {
            ScanDevices();
        } else {
            theApp.m_nExitCode = CFirmwareApp::kExitNoDeviceLibrary;
            EndDialog(IDOK);
        }
    }

    SetWindowPos(&wndTopMost, 0, 0, 0, 0, SWP_NOSIZE);
    return TRUE;
}

void CDeviceSelectDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    const int cxIcon = GetSystemMetrics(SM_CXICON);
    const int cyIcon = GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    // Signed division, truncating toward zero, as the icon may be larger than the area.
    const int x = (static_cast<int>(rect.right - rect.left) - cxIcon + 1) / 2;
    const int y = (static_cast<int>(rect.bottom - rect.top) - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

void CDeviceSelectDlg::OnOK() {
    if (!m_bDownloading) {
        CDialog::OnOK();
    }
}

HCURSOR CDeviceSelectDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

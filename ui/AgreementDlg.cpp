#include "ui/AgreementDlg.h"

#include "res/Texts.h"

BEGIN_MESSAGE_MAP(CAgreementDlg, CDialog)
END_MESSAGE_MAP()

void CAgreementDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_AGREEMENT_TEXT, m_editAgreement);
}

BOOL CAgreementDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_editAgreement.SetWindowText(res::text::kAgreement);
    return TRUE;
}

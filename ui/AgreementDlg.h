// The user agreement shown before the main window does anything: "&Agree" ends it with
// IDOK; "&Disagree", Esc and the close box with IDCANCEL.
#pragma once

#include "framework/afxwin.h"
#include "res/resource.h"

class CAgreementDlg : public CDialog {
public:
    explicit CAgreementDlg(CWnd* pParent = nullptr) : CDialog(IDD_AGREEMENT, pParent) {}
    ~CAgreementDlg() override = default;

    CEdit m_editAgreement;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    DECLARE_MESSAGE_MAP()
};

// The modal window in front of the main window while the download worker runs: a warning,
// an animation and a progress bar that fills over and over. It closes itself once the
// worker signals theApp.m_hUpgradeEvent; the operator has no way to close it.
#pragma once

#include "framework/afxwin.h"
#include "res/resource.h"

class CProgressDlg : public CDialog {
public:
    explicit CProgressDlg(CWnd* pParent = nullptr) : CDialog(IDD_PROGRESS, pParent) {}
    ~CProgressDlg() override = default;

    BYTE m_nProgressPos = 0; // the cycle starts again at every OnInitDialog
    CEdit m_editWarning;
    CAnimateCtrl m_animDownload;
    CProgressCtrl m_progDownload;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter and Esc would end an ordinary dialog: here they do nothing.
    void OnOK() override {}
    void OnCancel() override {}

    void OnTimer(UINT_PTR nIDEvent);
    void OnCancelMode();
    // The close request the timer posts is the one way out. Every other one (Esc in the
    // warning text, Alt+F4, another program) is refused: the worker is still sending.
    void OnClose();

private:
    bool m_bSignalSeen = false; // the timer has seen the worker's signal in this run

    DECLARE_MESSAGE_MAP()
};

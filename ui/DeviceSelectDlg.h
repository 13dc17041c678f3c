// The main window: the list of supported drives, the chosen drive's model and firmware
// revision, and the Upgrade Firmware, Rescan and DONE buttons. Its handlers live with the
// work they do: devices/ (scan, selection), upgrade/ (the upgrade request).
#pragma once

#include "framework/afxwin.h"
#include "res/resource.h"

class CDeviceSelectDlg : public CDialog {
public:
    explicit CDeviceSelectDlg(CWnd* pParent = nullptr);
    ~CDeviceSelectDlg() override = default;

    CButton m_btnUpgrade;
    CListBox m_lstDevices;
    CString m_strModel;
    CString m_strRevision;
    CString m_strHeading;

    // Rebuilds the list from the library's devices; selects and qualifies the first drive.
    void ScanDevices();

protected:
    HICON m_hIcon;
    // Set while the progress window is up. The main window is disabled then, but a close
    // request (taskkill, another program) or a posted command still reaches it: none of
    // them may rescan, reselect or end the program under the worker.
    bool m_bDownloading = false;

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // DONE; ignored while a download runs.
    void OnOK() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnSelchangeDeviceList();
    void OnRescan();
    void OnUpgradeFirmware();

    DECLARE_MESSAGE_MAP()
};

// Resource identifiers. Plain macros: the resource compiler reads this file too.
#pragma once

#define IDR_MAINFRAME 128
#define IDD_DEVICE_DIALOG 102
#define IDD_AGREEMENT 131
#define IDB_DRIVE_PICTURE 133
#define IDD_PROGRESS 134
#define IDB_AGREEMENT_PICTURE 135

#define IDC_AGREEMENT_TEXT 1001
#define IDC_DEVICE_LIST 1002
#define IDC_UPGRADE 1004
#define IDC_MODEL 1005
#define IDC_REVISION 1006
#define IDC_PROGRESS 1008
#define IDC_ANIMATION 1009
#define IDC_WARNING_TEXT 1010
#define IDC_HEADING 1011

#define IDC_STATIC (-1)

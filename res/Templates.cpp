#include "res/Templates.h"

#include <array>

#include "framework/Styles.h"
#include "framework/fwtypes.h"
#include "res/BuildInfo.h"
#include "res/resource.h"

namespace res {
namespace {

using namespace fw::style;
using K = ControlKind;

constexpr const char* kFont = "MS Sans Serif";
constexpr int kPointSize = 8;

constexpr std::array kDeviceControls{
    ControlTemplate{
        IDC_DEVICE_LIST, K::ListBox, "", 7, 20, 166, 75,
        LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 0, 0},
    ControlTemplate{IDC_STATIC, K::GroupBox, "Device Information", 7, 103, 166, 70,
                    BS_GROUPBOX | BS_LEFT, 0, 0},
    ControlTemplate{IDC_HEADING, K::Static, "Select Tape Device For Firmware Upgrade", 7, 7, 260, 8,
                    SS_LEFT | WS_GROUP, 0, 0},
    ControlTemplate{IDOK, K::PushButton, "&DONE", 189, 74, 65, 21, BS_PUSHBUTTON | WS_TABSTOP, 0,
                    0},
    ControlTemplate{IDC_STATIC, K::Picture, "", 196, 122, 47, 36, SS_BITMAP, WS_EX_DLGMODALFRAME,
                    IDB_DRIVE_PICTURE},
    ControlTemplate{IDC_UPGRADE, K::PushButton, "&Upgrade Firmware", 190, 20, 65, 21,
                    BS_PUSHBUTTON | WS_TABSTOP, 0, 0},
    ControlTemplate{IDC_STATIC, K::Static, "Model ", 20, 116, 22, 8, SS_LEFT | WS_GROUP, 0, 0},
    ControlTemplate{IDC_STATIC, K::Static, "Firmware Revision", 19, 159, 58, 8, SS_LEFT | WS_GROUP,
                    0, 0},
    ControlTemplate{IDC_MODEL, K::Static, "Please select a device from the list", 19, 134, 110, 11,
                    SS_LEFT | SS_SUNKEN | SS_CENTERIMAGE | WS_GROUP, 0, 0},
    ControlTemplate{IDC_REVISION, K::Static, "", 102, 157, 64, 11, SS_LEFT | SS_SUNKEN | WS_GROUP,
                    0, 0},
    ControlTemplate{IDCANCEL, K::PushButton, "&Rescan", 189, 47, 65, 21, BS_PUSHBUTTON | WS_TABSTOP,
                    0, 0},
    ControlTemplate{IDC_STATIC, K::GroupBox, "", 179, 103, 80, 70, BS_GROUPBOX, 0, 0},
};

constexpr std::array kAgreementControls{
    ControlTemplate{IDOK, K::PushButton, "&Agree", 146, 162, 76, 19, BS_DEFPUSHBUTTON | WS_TABSTOP,
                    0, 0},
    ControlTemplate{IDCANCEL, K::PushButton, "&Disagree", 233, 162, 76, 19,
                    BS_PUSHBUTTON | WS_TABSTOP, 0, 0},
    ControlTemplate{IDC_STATIC, K::Picture, "", 7, 7, 128, 173, SS_BITMAP, 0,
                    IDB_AGREEMENT_PICTURE},
    ControlTemplate{
        IDC_AGREEMENT_TEXT, K::Edit, "", 147, 7, 163, 150,
        ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL | WS_VSCROLL | WS_BORDER | WS_TABSTOP, 0, 0},
};

constexpr std::array kProgressControls{
    ControlTemplate{IDC_PROGRESS, K::Progress, "Progress1", 7, 68, 234, 14, 0, 0, 0},
    ControlTemplate{IDC_ANIMATION, K::Animation, "Animate1", 10, 21, 20, 20,
                    ACS_AUTOPLAY | WS_TABSTOP, 0, 0},
    ControlTemplate{IDC_WARNING_TEXT, K::Edit, "", 63, 7, 178, 53,
                    ES_MULTILINE | ES_READONLY | WS_TABSTOP, 0, 0},
};

constexpr std::array kDialogs{
    DialogTemplate{IDD_DEVICE_DIALOG, "IDD_DEVICE_DIALOG", true,
                   "VORN TAPE FIRMWARE UPGRADE UTILITY - Ver. " FWUPGRADE_VERSION_SHORT, 0, 0, 274,
                   180, WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT,
                   WS_EX_APPWINDOW, kFont, kPointSize, kDeviceControls},
    DialogTemplate{IDD_AGREEMENT, "IDD_AGREEMENT", false,
                   "VORN - Tape Device Firmware Upgrade Utility User Agreement", 0, 0, 317, 188,
                   WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT, 0, kFont,
                   kPointSize, kAgreementControls},
    DialogTemplate{IDD_PROGRESS, "IDD_PROGRESS", false, "Firmware Upgrade in Progress ...", 0, 0,
                   248, 89, WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_SETFONT, 0,
                   kFont, kPointSize, kProgressControls},
};

} // namespace

std::span<const DialogTemplate> AllDialogTemplates() { return kDialogs; }

const DialogTemplate* FindDialogTemplate(int id) { return fw::FindDialogTemplate(kDialogs, id); }

} // namespace res

#include "scsi/TapeError.h"

#include <cstdio>
#include <memory>

#include "res/Texts.h"
#include "scsi/RunObserver.h"

namespace {

constexpr const char* kSenseKeyNames[16] = {
    "No Sense Data",  "Recovered Error", "Not Ready",      "Medium Error",
    "Hardware Error", "Illegal Request", "Unit Attention", "Data Protect",
    "Blank Check",    "Vendor Specific", "Copy Aborted",   "Command Aborted",
    "Equal",          "Volume Overflow", "Miscompare",     "Reserved",
};

// Keeps the main window disabled for as long as it lives, when it was enabled before.
class MainWindowBlock {
public:
    explicit MainWindowBlock(bool block) {
        CWnd* main = AfxGetMainWnd();
        if (block && main != nullptr && main->GetSafeHwnd() != nullptr && main->IsWindowEnabled()) {
            main->EnableWindow(FALSE);
            m_blocked = main;
        }
    }
    MainWindowBlock(const MainWindowBlock&) = delete;
    MainWindowBlock& operator=(const MainWindowBlock&) = delete;
    ~MainWindowBlock() {
        if (m_blocked != nullptr) {
            m_blocked->EnableWindow(TRUE);
        }
    }

private:
    CWnd* m_blocked = nullptr;
};

} // namespace

const char* SenseKeyName(unsigned key) { return kSenseKeyNames[key & 0x0F]; }

CString FormatSenseText(const SENSE_DATA& sense) {
    const uint8_t* b = sense.bytes;
    CString text;
    // "%.4s" stops at four characters or the first zero byte: never past the field.
    text.Format(
        "Error Code: \t\t%xh\n"
        "Valid:\t\t\t%xh\n"
        "Segment Number:\t\t%xh\n"
        "Sense Key: \t\t%s\n"
        "Incorrect Length Indicator:\t%xh\n"
        "End Of Medium:\t\t%xh\n"
        "File Mark:\t\t\t%xh\n"
        "Information:\t\t%.4s\n"
        "Additional Length: \t\t%xh\n"
        "Command Specific:\t\t%.4s\n"
        "Sense Code:\t\t%xh\n"
        "Sense Code Qualifier:\t%xh\n"
        "Field Unit Code:\t\t%xh",
        b[0] & 0x7Fu, (b[0] >> 7) & 1u, unsigned{b[1]}, SenseKeyName(b[2]), (b[2] >> 5) & 1u,
        (b[2] >> 6) & 1u, (b[2] >> 7) & 1u, reinterpret_cast<const char*>(&b[3]), unsigned{b[7]},
        reinterpret_cast<const char*>(&b[8]), unsigned{b[12]}, unsigned{b[13]}, unsigned{b[14]});
    return text;
}

void ReportTapeError(HWND hWnd, UINT status, UINT device) {
    CurrentRunObserver().CallFailed(status, device);
    char text[128];
    if (status == LOGICAL_UNIT_NOT_READY_CAUSE_NOT_REPORTABLE) {
        std::snprintf(text, sizeof text, "%s%s", res::text::kNotReadyCauseNotReportable,
                      res::text::kReadSenseQuestion);
    } else if (status == MEDIUM_NOT_PRESENT) {
        std::snprintf(text, sizeof text, "%s%s", res::text::kMediumNotPresent,
                      res::text::kReadSenseQuestion);
    } else {
        char statusText[32];
        std::snprintf(statusText, sizeof statusText, res::text::kErrorStatusFormat, status);
        std::snprintf(text, sizeof text, "%s%s", statusText, res::text::kReadSenseQuestion);
    }

    const bool onUserInterfaceThread = AfxGetThread() == AfxGetApp();
    MainWindowBlock block(hWnd == nullptr && onUserInterfaceThread);

    if (MessageBoxA(hWnd, text, res::text::kTapeErrorCaption, MB_YESNO | MB_ICONEXCLAMATION) !=
        IDYES) {
        return;
    }
    auto sense = std::make_unique<SENSE_DATA>();
    *sense = SENSE_DATA{};
    RequestSense(device, sense.get());
    CurrentRunObserver().SenseRead(*sense);
    const CString senseText = FormatSenseText(*sense);
    MessageBoxA(hWnd, senseText, res::text::kSenseCaption, MB_OK | MB_ICONEXCLAMATION);
}

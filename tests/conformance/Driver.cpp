// What every driver shares: running a dialog, and the test dialog's records.
#include "tests/conformance/Driver.h"

namespace conformance {

fw::INT_PTR Driver::Run(TestDialog& dialog) { return dialog.DoModal(); }

int TestDialog::CommandsFrom(int id, fw::UINT code) const {
    int count = 0;
    for (const Command& command : commands) {
        if (command.id == id && command.code == code) {
            ++count;
        }
    }
    return count;
}

fw::BOOL TestDialog::OnInitDialog() {
    fw::CDialog::OnInitDialog();
    m_driver.Shown(*this);
    if (onInit) {
        onInit(*this);
    }
    return TRUE;
}

fw::LRESULT TestDialog::WindowProc(fw::UINT message, fw::WPARAM wParam, fw::LPARAM lParam) {
    if (message == WM_COMMAND) {
        commands.push_back(Command{static_cast<int>(wParam & 0xFFFF),
                                   static_cast<fw::UINT>((wParam >> 16) & 0xFFFF), lParam});
    } else if (message == WM_TIMER) {
        timerIds.push_back(wParam);
        if (onTimer) {
            onTimer(*this);
        }
        return 0;
    } else if (message >= kAppMessage && message <= 0xBFFF) {
        appMessages.push_back(message);
        return 0;
    }
    return fw::CDialog::WindowProc(message, wParam, lParam);
}

} // namespace conformance

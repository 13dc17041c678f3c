// The model window system behaves as Win32 does where the program depends on it.
#include <gtest/gtest.h>

#include "framework/fw.h"
#include "framework/headless/Headless.h"
#include "res/resource.h"

namespace {

using namespace fw;
using fw::headless::Headless;
using fw::headless::HeadlessSession;

class ProbeDialog : public CDialog {
public:
    explicit ProbeDialog(UINT id, CWnd* parent = nullptr) : CDialog(id, parent) {}
    std::vector<int> commands;
    int timers = 0;
    bool endInInit = false;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        if (endInInit) EndDialog(IDRETRY);
        return TRUE;
    }
    void OnOK() override { commands.push_back(IDOK); }
    void OnCancel() override { commands.push_back(IDCANCEL); }
    void OnTimer(UINT_PTR) { ++timers; }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(ProbeDialog, CDialog)
ON_WM_TIMER()
END_MESSAGE_MAP()

TEST(Model, ListBoxInsertsAtTheEndUnsortedAndGuardsItsSelection) {
    HeadlessSession session;
    ProbeDialog dialog(IDD_DEVICE_DIALOG);
    session.windows.Then(IDD_DEVICE_DIALOG, [&](Headless& ui) {
        CListBox list;
        list.Attach(ui.GetDlgItem(dialog.GetSafeHwnd(), IDC_DEVICE_LIST));
        EXPECT_EQ(list.InsertString(-1, "b"), 0);
        EXPECT_EQ(list.InsertString(-1, "a"), 1) << "the sort style does not apply to insertion";
        EXPECT_EQ(list.InsertString(0, "c"), 0);
        EXPECT_EQ(list.InsertString(9, "x"), LB_ERR);
        EXPECT_EQ(list.GetCount(), 3);
        EXPECT_EQ(list.GetCurSel(), LB_ERR);
        EXPECT_EQ(list.SetCurSel(2), 2);
        CString text;
        list.GetText(list.GetCurSel(), text);
        EXPECT_EQ(text, "a");
        EXPECT_EQ(list.SetCurSel(3), LB_ERR);
        EXPECT_EQ(list.GetCurSel(), LB_ERR) << "an invalid index clears the selection";
        list.GetText(7, text);
        EXPECT_TRUE(text.IsEmpty());
        list.ResetContent();
        EXPECT_EQ(list.GetCount(), 0);
        list.Detach();
        dialog.EndDialog(IDOK);
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
}

TEST(Model, ProgressBarClampsAndReturnsThePreviousPosition) {
    HeadlessSession session;
    ProbeDialog dialog(IDD_PROGRESS);
    session.windows.Then(IDD_PROGRESS, [&](Headless& ui) {
        CProgressCtrl bar;
        bar.Attach(ui.GetDlgItem(dialog.GetSafeHwnd(), IDC_PROGRESS));
        EXPECT_EQ(bar.SetPos(50), 0);
        EXPECT_EQ(bar.SetPos(150), 50);
        EXPECT_EQ(ui.Control(IDD_PROGRESS, IDC_PROGRESS)->position, 100);
        bar.Detach();
        dialog.EndDialog(IDOK);
    });
    dialog.DoModal();
}

TEST(Model, CloseRequestsBecomeTheCancelCommandAndDieWithTheirWindow) {
    HeadlessSession session;
    ProbeDialog dialog(IDD_AGREEMENT);
    session.windows.Then(IDD_AGREEMENT, [&](Headless& ui) {
        EXPECT_TRUE(ui.PressCloseBox());
        EXPECT_TRUE(ui.PressEscape());
        EXPECT_TRUE(ui.PressEnter());
        dialog.PostMessage(WM_CLOSE);
    });
    session.windows.Then(IDD_AGREEMENT, [&](Headless&) {
        EXPECT_EQ(dialog.commands, (std::vector<int>{IDCANCEL, IDCANCEL, IDOK, IDCANCEL}));
        dialog.PostMessage(WM_CLOSE); // still queued when the dialog ends
        dialog.EndDialog(IDABORT);
    });
    EXPECT_EQ(dialog.DoModal(), IDABORT);
    EXPECT_EQ(dialog.commands.size(), 4u) << "the late close request found no window";
    EXPECT_TRUE(session.windows.Problems().empty());
}

TEST(Model, ModalDialogsDisableTheirOwnerAndRestoreIt) {
    HeadlessSession session;
    ProbeDialog main(IDD_DEVICE_DIALOG);
    ProbeDialog inner(IDD_PROGRESS, &main);
    bool ownerEnabledDuring = true;
    session.windows.Then(IDD_DEVICE_DIALOG, [&](Headless&) { inner.DoModal(); });
    session.windows.Then(IDD_PROGRESS, [&](Headless& ui) {
        ownerEnabledDuring = ui.Dialog(IDD_DEVICE_DIALOG)->enabled;
        inner.EndDialog(IDOK);
    });
    session.windows.Then(IDD_DEVICE_DIALOG, [&](Headless& ui) {
        EXPECT_TRUE(ui.Dialog(IDD_DEVICE_DIALOG)->enabled);
        main.EndDialog(IDOK);
    });
    main.DoModal();
    EXPECT_FALSE(ownerEnabledDuring);
}

TEST(Model, TimersTickInVirtualTimeAndADialogCanEndDuringItsInitialisation) {
    HeadlessSession session;
    ProbeDialog dialog(IDD_PROGRESS);
    session.windows.Then(IDD_PROGRESS, [&](Headless&) { dialog.SetTimer(1, 100, nullptr); });
    // Steps run whenever the loop is idle: a pending timer does not hold them back.
    session.windows.Then(IDD_PROGRESS, [&](Headless&) {
        EXPECT_EQ(dialog.timers, 0);
        session.kernel.Sleep(150);
    });
    session.windows.Then(IDD_PROGRESS, [&](Headless&) {
        EXPECT_EQ(dialog.timers, 1);
        session.kernel.Sleep(1000);
    });
    session.windows.Then(IDD_PROGRESS, [&](Headless&) {
        EXPECT_EQ(dialog.timers, 2) << "ticks missed while busy come as one";
        EXPECT_EQ(session.kernel.TickCount(), 1150u);
        dialog.EndDialog(IDOK);
    });
    dialog.DoModal();

    ProbeDialog quick(IDD_AGREEMENT);
    quick.endInInit = true;
    EXPECT_EQ(quick.DoModal(), IDRETRY);
    EXPECT_TRUE(session.windows.Problems().empty());
}

TEST(Model, AnIdleDialogWithNothingScriptedIsAProblemNotAHang) {
    HeadlessSession session;
    ProbeDialog dialog(IDD_AGREEMENT);
    EXPECT_EQ(dialog.DoModal(), IDABORT);
    ASSERT_EQ(session.windows.Problems().size(), 1u);
}

} // namespace

// The model window system behaves as Win32 does where the program depends on it.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

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
        if (endInInit)
            EndDialog(IDRETRY);
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
        EXPECT_EQ(list.GetCurSel(), 2) << "an invalid index leaves the selection";
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

TEST(Model, NewTextInAnEditShowsFromItsFirstLine) {
    HeadlessSession session;
    ProbeDialog dialog(IDD_AGREEMENT);
    session.windows.Then(IDD_AGREEMENT, [&](Headless& ui) {
        ui.PostMessage(ui.GetDlgItem(dialog.GetSafeHwnd(), IDC_AGREEMENT_TEXT), WM_KEYDOWN, VK_END,
                       0);
    });
    session.windows.Then(IDD_AGREEMENT, [&](Headless& ui) {
        const model::Window* edit = ui.Control(IDD_AGREEMENT, IDC_AGREEMENT_TEXT);
        EXPECT_GT(edit->top, 0) << "End scrolled";
        ui.SetWindowText(edit->handle, "new text");
        EXPECT_EQ(edit->top, 0);
        dialog.EndDialog(IDOK);
    });
    dialog.DoModal();
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

// A dialog that records every command it gets, with list items to move through and controls
// it disables while it sets up.
class KeyProbe : public ProbeDialog {
public:
    KeyProbe(UINT id, std::vector<int> disabled)
        : ProbeDialog(id), m_disabled(std::move(disabled)) {}
    std::vector<std::pair<int, int>> seen; // (id, notification) of every WM_COMMAND

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_COMMAND) {
            seen.emplace_back(static_cast<int>(wParam & 0xFFFF), static_cast<int>(wParam >> 16));
        }
        return ProbeDialog::WindowProc(message, wParam, lParam);
    }

protected:
    BOOL OnInitDialog() override {
        ProbeDialog::OnInitDialog();
        const HWND list = Windows().GetDlgItem(m_hWnd, IDC_DEVICE_LIST);
        for (const char* item : {"alpha", "bravo", "romeo"}) {
            Windows().SendMessage(list, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                                  reinterpret_cast<LPARAM>(item));
        }
        for (int id : m_disabled) {
            Windows().EnableWindow(Windows().GetDlgItem(m_hWnd, id), FALSE);
        }
        return TRUE;
    }

private:
    std::vector<int> m_disabled;
};

struct Key {
    UINT message;
    WPARAM key;
    bool shift = false;
};

struct DialogKeyCase {
    const char* name;
    int dialogId = IDD_DEVICE_DIALOG;
    std::vector<int> disabledAtStart = {};
    int focusId = 0;   // focused before the keys; 0 keeps the initial focus
    int disableId = 0; // disabled after that; 0 for none
    int defId = 0;     // sent with DM_SETDEFID after that; 0 for none
    std::vector<Key> keys = {};
    int focusIndex = -1; // template position of the focused control after the keys; -1 none
    std::vector<std::pair<int, int>> commands = {};
    int selection = -2; // of the device list after the keys; -2 when it does not matter
};

constexpr Key Down(WPARAM key, bool shift = false) { return Key{WM_KEYDOWN, key, shift}; }
constexpr Key Up(WPARAM key) { return Key{WM_KEYUP, key}; }
constexpr Key Alt(char letter) { return Key{WM_SYSCHAR, static_cast<WPARAM>(letter)}; }

// Template positions: device dialog list 0, heading 2, DONE 3, Upgrade 5, Rescan 10;
// agreement dialog Agree 0, Disagree 1, text 3.
constexpr int kList = 0, kHeading = 2, kDone = 3, kUpgrade = 5, kRescan = 10;
constexpr int kAgree = 0, kDisagree = 1, kText = 3;
const std::pair<int, int> kOk{IDOK, BN_CLICKED}, kCancel{IDCANCEL, BN_CLICKED},
    kUpgradeClick{IDC_UPGRADE, BN_CLICKED}, kSelChange{IDC_DEVICE_LIST, LBN_SELCHANGE};

const DialogKeyCase kDialogKeyCases[] = {
    {.name = "initial focus: the first enabled tab stop", .focusIndex = kList, .selection = -1},
    {.name = "initial focus passes over a stop disabled during set-up",
     .disabledAtStart = {IDC_DEVICE_LIST},
     .focusIndex = kDone},
    {.name = "Tab passes over a disabled stop",
     .disabledAtStart = {IDC_UPGRADE},
     .keys = {Down(VK_TAB), Down(VK_TAB)},
     .focusIndex = kRescan},
    {.name = "Tab from the last stop wraps to the first",
     .focusId = IDCANCEL,
     .keys = {Down(VK_TAB)},
     .focusIndex = kList},
    {.name = "Shift-Tab from the first stop wraps to the last",
     .keys = {Down(VK_TAB, true)},
     .focusIndex = kRescan},
    {.name = "Alt+letter clicks and focuses its button from a list",
     .keys = {Alt('u')},
     .focusIndex = kUpgrade,
     .commands = {kUpgradeClick}},
    {.name = "a plain letter is a mnemonic on a button",
     .focusId = IDOK,
     .keys = {Down('U')},
     .focusIndex = kUpgrade,
     .commands = {kUpgradeClick}},
    {.name = "a plain letter on a list selects by first letter",
     .keys = {Down('R')},
     .focusIndex = kList,
     .commands = {kSelChange},
     .selection = 2},
    {.name = "a disabled button's mnemonic does nothing",
     .disabledAtStart = {IDC_UPGRADE},
     .keys = {Alt('u')},
     .focusIndex = kList},
    {.name = "Enter presses the focused push button",
     .focusId = IDC_UPGRADE,
     .keys = {Down(VK_RETURN)},
     .focusIndex = kUpgrade,
     .commands = {kUpgradeClick}},
    {.name = "Enter elsewhere is IDOK when there is no default button",
     .keys = {Down(VK_RETURN)},
     .focusIndex = kList,
     .commands = {kOk}},
    {.name = "Enter in a multi-line edit goes to the default button",
     .dialogId = IDD_AGREEMENT,
     .focusId = IDC_AGREEMENT_TEXT,
     .keys = {Down(VK_RETURN)},
     .focusIndex = kAgree,
     .commands = {kOk}},
    {.name = "DM_SETDEFID moves the default button",
     .dialogId = IDD_AGREEMENT,
     .focusId = IDC_AGREEMENT_TEXT,
     .defId = IDCANCEL,
     .keys = {Down(VK_RETURN)},
     .focusIndex = kDisagree,
     .commands = {kCancel}},
    {.name = "Tab in a multi-line edit moves on",
     .dialogId = IDD_AGREEMENT,
     .focusId = IDC_AGREEMENT_TEXT,
     .keys = {Down(VK_TAB)},
     .focusIndex = kAgree},
    {.name = "Esc is IDCANCEL",
     .keys = {Down(VK_ESCAPE)},
     .focusIndex = kList,
     .commands = {kCancel}},
    {.name = "Esc in a multi-line edit closes its dialog",
     .dialogId = IDD_AGREEMENT,
     .focusId = IDC_AGREEMENT_TEXT,
     .keys = {Down(VK_ESCAPE)},
     .focusIndex = kText,
     .commands = {kCancel}},
    {.name = "Esc does nothing while Cancel is disabled",
     .disabledAtStart = {IDCANCEL},
     .keys = {Down(VK_ESCAPE)},
     .focusIndex = kList},
    {.name = "arrows move a list's selection, telling only of changes",
     .keys = {Down(VK_DOWN), Down(VK_DOWN), Down(VK_DOWN), Down(VK_DOWN)},
     .focusIndex = kList,
     .commands = {kSelChange, kSelChange, kSelChange},
     .selection = 2},
    {.name = "arrows on a button stay within its group",
     .focusId = IDC_UPGRADE,
     .keys = {Down(VK_DOWN)},
     .focusIndex = kHeading},
    {.name = "a focused control that is disabled leaves no focus",
     .focusId = IDC_UPGRADE,
     .disableId = IDC_UPGRADE},
    {.name = "with no focus, Tab starts at the first stop",
     .focusId = IDC_UPGRADE,
     .disableId = IDC_UPGRADE,
     .keys = {Down(VK_TAB)},
     .focusIndex = kList},
    {.name = "space presses the focused button as it comes up",
     .focusId = IDCANCEL,
     .keys = {Down(VK_SPACE), Up(VK_SPACE)},
     .focusIndex = kRescan,
     .commands = {kCancel}},
};

TEST(Model, TheDialogManagerTakesKeysPostedToTheFocusAsWin32Does) {
    for (const DialogKeyCase& c : kDialogKeyCases) {
        SCOPED_TRACE(c.name);
        HeadlessSession session;
        KeyProbe dialog(static_cast<UINT>(c.dialogId), c.disabledAtStart);
        session.windows.Then(c.dialogId, [&](Headless& ui) {
            if (c.focusId != 0) {
                ui.SetFocus(ui.GetDlgItem(dialog.GetSafeHwnd(), c.focusId));
            }
            if (c.disableId != 0) {
                ui.EnableWindow(ui.GetDlgItem(dialog.GetSafeHwnd(), c.disableId), FALSE);
            }
            if (c.defId != 0) {
                dialog.SendMessage(DM_SETDEFID, static_cast<WPARAM>(c.defId));
            }
        });
        for (const Key& key : c.keys) {
            session.windows.Then(c.dialogId, [&](Headless& ui) {
                ui.SetKeyState(VK_SHIFT, key.shift);
                const HWND focus = ui.GetFocus();
                ui.PostMessage(focus != nullptr ? focus : dialog.GetSafeHwnd(), key.message,
                               key.key, 0);
            });
        }
        session.windows.Then(c.dialogId, [&](Headless& ui) {
            const model::Window* window = ui.Dialog(c.dialogId);
            const HWND expected =
                c.focusIndex >= 0 ? window->children[static_cast<std::size_t>(c.focusIndex)]->handle
                                  : nullptr;
            EXPECT_EQ(ui.GetFocus(), expected);
            EXPECT_EQ(dialog.seen, c.commands);
            if (c.selection != -2) {
                EXPECT_EQ(ui.Control(c.dialogId, IDC_DEVICE_LIST)->curSel, c.selection);
            }
            dialog.EndDialog(IDABORT);
        });
        EXPECT_EQ(dialog.DoModal(), IDABORT);
        EXPECT_TRUE(session.windows.Problems().empty());
    }
}

TEST(Model, SetFocusRefusesWhatCannotTakeTheFocusAndAClickFocusesItsButton) {
    HeadlessSession session;
    KeyProbe dialog(IDD_DEVICE_DIALOG, {IDC_UPGRADE});
    session.windows.Then(IDD_DEVICE_DIALOG, [&](Headless& ui) {
        const HWND list = ui.GetDlgItem(dialog.GetSafeHwnd(), IDC_DEVICE_LIST);
        const HWND done = ui.GetDlgItem(dialog.GetSafeHwnd(), IDOK);
        EXPECT_EQ(ui.SetFocus(done), list) << "the previous focus";
        EXPECT_EQ(ui.SetFocus(ui.GetDlgItem(dialog.GetSafeHwnd(), IDC_UPGRADE)), nullptr);
        EXPECT_EQ(ui.SetFocus(dialog.GetSafeHwnd()), nullptr);
        EXPECT_EQ(ui.GetFocus(), done);
        EXPECT_TRUE(ui.Click(IDCANCEL));
        EXPECT_EQ(ui.GetFocus(), ui.GetDlgItem(dialog.GetSafeHwnd(), IDCANCEL));
        dialog.EndDialog(IDOK);
    });
    dialog.DoModal();
}

TEST(Model, AnIdleDialogWithNothingScriptedIsAProblemNotAHang) {
    HeadlessSession session;
    ProbeDialog dialog(IDD_AGREEMENT);
    EXPECT_EQ(dialog.DoModal(), IDABORT);
    ASSERT_EQ(session.windows.Problems().size(), 1u);
}

} // namespace

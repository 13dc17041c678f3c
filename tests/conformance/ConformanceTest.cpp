// The Win32 behaviour the program relies on, written once and run against every window
// system it can have: the model everywhere, and on Windows the real one too, which decides
// what is right. Each case starts one of the program's own dialogs.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "framework/model/Input.h"
#include "res/resource.h"
#include "tests/conformance/Driver.h"

namespace conformance {
namespace {

using fw::HWND;
using fw::INT_PTR;
using fw::LRESULT;

struct Backend {
    const char* name;
    std::unique_ptr<Driver> (*make)();
};

void PrintTo(const Backend& backend, std::ostream* out) { *out << backend.name; }

class Conformance : public testing::TestWithParam<Backend> {
protected:
    void SetUp() override { driver = GetParam().make(); }
    void TearDown() override {
        EXPECT_EQ(driver->Problems(), std::vector<std::string>{});
        driver.reset();
    }

    LRESULT Send(HWND window, fw::UINT message, fw::WPARAM wParam = 0, fw::LPARAM lParam = 0) {
        return fw::Windows().SendMessage(window, message, wParam, lParam);
    }
    std::string Text(HWND window) {
        std::vector<char> buffer(
            static_cast<std::size_t>(fw::Windows().GetWindowTextLength(window)) + 1);
        fw::Windows().GetWindowText(window, buffer.data(), static_cast<int>(buffer.size()));
        return buffer.data();
    }
    std::vector<std::string> Items(HWND list) {
        std::vector<std::string> items;
        const auto count = static_cast<int>(Send(list, LB_GETCOUNT));
        for (int i = 0; i < count; ++i) {
            std::vector<char> text(
                static_cast<std::size_t>(Send(list, LB_GETTEXTLEN, static_cast<fw::WPARAM>(i))) +
                1);
            Send(list, LB_GETTEXT, static_cast<fw::WPARAM>(i),
                 reinterpret_cast<fw::LPARAM>(text.data()));
            items.emplace_back(text.data());
        }
        return items;
    }
    LRESULT Insert(HWND list, int index, const char* text) {
        return Send(list, LB_INSERTSTRING, static_cast<fw::WPARAM>(index),
                    reinterpret_cast<fw::LPARAM>(text));
    }

    std::unique_ptr<Driver> driver;
};

TEST_P(Conformance, ListBoxInsertsWhereToldWhateverItsSortStyle) {
    TestDialog dialog(*driver, IDD_DEVICE_DIALOG);
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        HWND list = dialog.Item(IDC_DEVICE_LIST);
        EXPECT_EQ(Insert(list, -1, "b"), 0);
        EXPECT_EQ(Insert(list, -1, "a"), 1);
        EXPECT_EQ(Insert(list, 0, "c"), 0);
        EXPECT_EQ(Insert(list, 4, "x"), LB_ERR) << "past the end";
        EXPECT_EQ(Items(list), (std::vector<std::string>{"c", "b", "a"}));
        EXPECT_EQ(Send(list, LB_GETTEXTLEN, 3), LB_ERR);
        Send(list, LB_RESETCONTENT);
        EXPECT_EQ(Send(list, LB_GETCOUNT), 0);
        dialog.EndDialog(IDOK);
    });
    EXPECT_EQ(driver->Run(dialog), IDOK);
}

TEST_P(Conformance, ListBoxSelectionIsGuardedAndFollowsInsertions) {
    TestDialog dialog(*driver, IDD_DEVICE_DIALOG);
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        HWND list = dialog.Item(IDC_DEVICE_LIST);
        EXPECT_EQ(Send(list, LB_GETCURSEL), LB_ERR) << "nothing selected at first";
        Insert(list, -1, "a");
        Insert(list, -1, "b");
        EXPECT_EQ(Send(list, LB_SETCURSEL, 1), 1);
        Insert(list, 0, "c");
        EXPECT_EQ(Send(list, LB_GETCURSEL), 2) << "the selected item moved down";
        EXPECT_EQ(Send(list, LB_SETCURSEL, 3), LB_ERR);
        EXPECT_EQ(Send(list, LB_GETCURSEL), 2) << "a bad index leaves the selection";
        EXPECT_EQ(Send(list, LB_SETCURSEL, static_cast<fw::WPARAM>(-1)), LB_ERR);
        EXPECT_EQ(Send(list, LB_GETCURSEL), LB_ERR) << "-1 clears it";
        EXPECT_EQ(Send(list, LB_SETCURSEL, 0), 0);
        Send(list, LB_RESETCONTENT);
        EXPECT_EQ(Send(list, LB_GETCURSEL), LB_ERR);
        dialog.EndDialog(IDOK);
    });
    driver->Run(dialog);
}

TEST_P(Conformance, ListBoxReportsSelectionChangesByTheOperatorOnly) {
    TestDialog dialog(*driver, IDD_DEVICE_DIALOG); // the list has LBS_NOTIFY
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        HWND list = dialog.Item(IDC_DEVICE_LIST);
        for (const char* item : {"a", "b", "c"}) {
            Insert(list, -1, item);
        }
        Send(list, LB_SETCURSEL, 0);
        EXPECT_EQ(dialog.CommandsFrom(IDC_DEVICE_LIST, LBN_SELCHANGE), 0) << "set by the program";
        driver->SelectItem(IDC_DEVICE_LIST, 2);
    });
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        EXPECT_EQ(Send(dialog.Item(IDC_DEVICE_LIST), LB_GETCURSEL), 2);
        EXPECT_EQ(dialog.CommandsFrom(IDC_DEVICE_LIST, LBN_SELCHANGE), 1);
        dialog.EndDialog(IDOK);
    });
    driver->Run(dialog);
}

TEST_P(Conformance, AClickedButtonCommandsItsDialogUnlessDisabled) {
    TestDialog dialog(*driver, IDD_DEVICE_DIALOG);
    driver->Then(IDD_DEVICE_DIALOG, [&] { driver->Click(IDC_UPGRADE); });
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        ASSERT_EQ(dialog.CommandsFrom(IDC_UPGRADE, BN_CLICKED), 1);
        for (const TestDialog::Command& command : dialog.commands) {
            if (command.id == IDC_UPGRADE) {
                EXPECT_EQ(command.control, reinterpret_cast<fw::LPARAM>(dialog.Item(IDC_UPGRADE)));
            }
        }
        fw::Windows().EnableWindow(dialog.Item(IDC_UPGRADE), FALSE);
        driver->Click(IDC_UPGRADE);
    });
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        EXPECT_EQ(dialog.CommandsFrom(IDC_UPGRADE, BN_CLICKED), 1) << "the disabled button";
        dialog.EndDialog(IDOK);
    });
    driver->Run(dialog);
}

TEST_P(Conformance, EnableWindowReturnsWhetherTheWindowWasDisabled) {
    TestDialog dialog(*driver, IDD_DEVICE_DIALOG);
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        HWND button = dialog.Item(IDC_UPGRADE);
        fw::WindowSystem& windows = fw::Windows();
        EXPECT_TRUE(windows.IsWindowEnabled(button));
        EXPECT_FALSE(windows.EnableWindow(button, FALSE));
        EXPECT_FALSE(windows.IsWindowEnabled(button));
        EXPECT_TRUE(windows.EnableWindow(button, FALSE));
        EXPECT_TRUE(windows.EnableWindow(button, TRUE));
        EXPECT_TRUE(windows.IsWindowEnabled(button));
        EXPECT_FALSE(windows.EnableWindow(button, TRUE));
        dialog.EndDialog(IDOK);
    });
    driver->Run(dialog);
}

TEST_P(Conformance, WindowTextsComeFromTheTemplateAndAreCutToTheBuffer) {
    TestDialog dialog(*driver, IDD_AGREEMENT);
    driver->Then(IDD_AGREEMENT, [&] {
        fw::WindowSystem& windows = fw::Windows();
        EXPECT_EQ(Text(dialog.GetSafeHwnd()),
                  "VORN - Tape Device Firmware Upgrade Utility User Agreement");
        EXPECT_EQ(Text(dialog.Item(IDOK)), "&Agree") << "the mnemonic's ampersand stays";
        HWND edit = dialog.Item(IDC_AGREEMENT_TEXT);
        EXPECT_EQ(windows.GetWindowTextLength(edit), 0);
        windows.SetWindowText(edit, "one\r\ntwo");
        EXPECT_EQ(Text(edit), "one\r\ntwo");
        char cut[5] = {'?', '?', '?', '?', '?'};
        EXPECT_EQ(windows.GetWindowText(edit, cut, sizeof cut), 4);
        EXPECT_STREQ(cut, "one\r");
        EXPECT_EQ(Send(edit, WM_SETTEXT, 0, reinterpret_cast<fw::LPARAM>("three")), TRUE);
        EXPECT_EQ(Send(edit, WM_GETTEXTLENGTH), 5);
        char back[16] = {};
        EXPECT_EQ(Send(edit, WM_GETTEXT, sizeof back, reinterpret_cast<fw::LPARAM>(back)), 5);
        EXPECT_STREQ(back, "three");
        windows.SetWindowText(dialog.GetSafeHwnd(), "Caption");
        EXPECT_EQ(Text(dialog.GetSafeHwnd()), "Caption");
        dialog.EndDialog(IDOK);
    });
    driver->Run(dialog);
}

TEST_P(Conformance, ANestedModalDialogDisablesItsOwnerUntilItEnds) {
    TestDialog owner(*driver, IDD_DEVICE_DIALOG);
    TestDialog inner(*driver, IDD_PROGRESS, &owner);
    INT_PTR innerResult = 0;
    driver->Then(IDD_DEVICE_DIALOG, [&] { innerResult = driver->Run(inner); });
    driver->Then(IDD_PROGRESS, [&] {
        EXPECT_FALSE(fw::Windows().IsWindowEnabled(owner.GetSafeHwnd()));
        inner.EndDialog(1234);
    });
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        EXPECT_EQ(innerResult, 1234);
        EXPECT_TRUE(fw::Windows().IsWindowEnabled(owner.GetSafeHwnd()));
        owner.EndDialog(IDRETRY);
    });
    EXPECT_EQ(driver->Run(owner), IDRETRY);
}

TEST_P(Conformance, EndingANestedModalDialogEnablesEvenAnOwnerDisabledBefore) {
    TestDialog owner(*driver, IDD_DEVICE_DIALOG);
    TestDialog inner(*driver, IDD_PROGRESS, &owner);
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        fw::Windows().EnableWindow(owner.GetSafeHwnd(), FALSE);
        driver->Run(inner);
        EXPECT_TRUE(fw::Windows().IsWindowEnabled(owner.GetSafeHwnd()));
        owner.EndDialog(IDOK);
    });
    driver->Then(IDD_PROGRESS, [&] {
        EXPECT_FALSE(fw::Windows().IsWindowEnabled(owner.GetSafeHwnd()));
        inner.EndDialog(IDOK);
    });
    driver->Run(owner);
}

TEST_P(Conformance, ADialogEndedDuringItsInitialisationReturnsAtOnce) {
    TestDialog dialog(*driver, IDD_AGREEMENT);
    dialog.onInit = [](TestDialog& self) { self.EndDialog(IDIGNORE); };
    EXPECT_EQ(driver->Run(dialog), IDIGNORE);
}

TEST_P(Conformance, TimersArriveAsWmTimerAndRepeat) {
    TestDialog dialog(*driver, IDD_PROGRESS);
    constexpr fw::UINT kPeriodMs = 30;
    std::uint64_t started = 0;
    std::uint64_t third = 0;
    dialog.onTimer = [&](TestDialog& self) {
        if (self.timerIds.size() == 3) {
            third = fw::System().TickCount();
            self.EndDialog(IDOK);
        }
    };
    driver->Then(IDD_PROGRESS, [&] {
        started = fw::System().TickCount();
        EXPECT_EQ(dialog.SetTimer(7, kPeriodMs, nullptr), 7u);
    });
    EXPECT_EQ(driver->Run(dialog), IDOK);
    EXPECT_EQ(dialog.timerIds, (std::vector<fw::UINT_PTR>{7, 7, 7}));
    // Real timers may come a tick of the system clock early; never a whole period.
    EXPECT_GE(third - started, 2 * kPeriodMs);
}

TEST_P(Conformance, PostedMessagesArriveInOrderAndOnlyWhileTheirWindowLives) {
    TestDialog dialog(*driver, IDD_AGREEMENT);
    driver->Then(IDD_AGREEMENT, [&] {
        for (fw::UINT offset : {1u, 2u, 3u}) {
            EXPECT_TRUE(dialog.PostMessage(kAppMessage + offset));
        }
        EXPECT_TRUE(dialog.appMessages.empty()) << "posted, not sent";
    });
    driver->Then(IDD_AGREEMENT, [&] {
        EXPECT_EQ(dialog.appMessages,
                  (std::vector<fw::UINT>{kAppMessage + 1, kAppMessage + 2, kAppMessage + 3}));
        dialog.PostMessage(kAppMessage + 4); // still queued when the dialog ends
        dialog.EndDialog(IDOK);
    });
    const HWND handle = [&] {
        HWND seen = nullptr;
        dialog.onInit = [&seen](TestDialog& self) { seen = self.GetSafeHwnd(); };
        driver->Run(dialog);
        return seen;
    }();
    EXPECT_EQ(dialog.appMessages.size(), 3u);
    EXPECT_FALSE(fw::Windows().PostMessage(handle, kAppMessage + 5, 0, 0))
        << "a window that is gone";
}

TEST_P(Conformance, AMessageBoxDisablesItsOwnerAndReturnsTheButtonPressed) {
    TestDialog dialog(*driver, IDD_DEVICE_DIALOG);
    std::vector<std::string> texts;
    bool ownerEnabledDuring = true;
    driver->AnswerBoxes([&](const std::string& text) {
        texts.push_back(text);
        ownerEnabledDuring = fw::Windows().IsWindowEnabled(dialog.GetSafeHwnd()) != FALSE;
        return texts.size() == 1 ? IDNO : IDYES;
    });
    driver->Then(IDD_DEVICE_DIALOG, [&] {
        EXPECT_EQ(dialog.MessageBox("First?", "Question", MB_YESNO | MB_ICONQUESTION), IDNO);
        EXPECT_FALSE(ownerEnabledDuring);
        EXPECT_TRUE(fw::Windows().IsWindowEnabled(dialog.GetSafeHwnd()));
        EXPECT_EQ(dialog.MessageBox("Second?", "Question", MB_YESNO), IDYES);
        dialog.EndDialog(IDOK);
    });
    driver->Run(dialog);
    EXPECT_EQ(texts, (std::vector<std::string>{"First?", "Second?"}));
}

// The dialog manager: where the focus starts and goes, and which command a key makes.
struct KeyCase {
    const char* name;
    int dialogId = IDD_DEVICE_DIALOG;
    int disabledId = 0; // disabled during set-up; 0 for none
    int focusId = 0;    // focused before the keys; 0 keeps the initial focus
    std::vector<std::pair<int, Driver::Modifier>> keys = {};
    int focusAfter = 0;                                  // the focused control after the keys
    std::vector<std::pair<int, fw::UINT>> commands = {}; // clicks and selection changes
};

constexpr auto kPlain = Driver::kNoModifier;

const KeyCase kKeyCases[] = {
    {.name = "the first enabled tab stop has the focus at first", .focusAfter = IDC_DEVICE_LIST},
    {.name = "Tab passes over a disabled stop",
     .disabledId = IDC_UPGRADE,
     .keys = {{VK_TAB, kPlain}, {VK_TAB, kPlain}},
     .focusAfter = IDCANCEL},
    {.name = "Shift-Tab from the first stop wraps to the last",
     .keys = {{VK_TAB, Driver::kShift}},
     .focusAfter = IDCANCEL},
    {.name = "Alt and a mnemonic click its button",
     .keys = {{'U', Driver::kAlt}},
     .focusAfter = IDC_UPGRADE,
     .commands = {{IDC_UPGRADE, BN_CLICKED}}},
    {.name = "Enter on a list is IDOK when no button is the default",
     .keys = {{VK_RETURN, kPlain}},
     .focusAfter = IDC_DEVICE_LIST,
     .commands = {{IDOK, BN_CLICKED}}},
    {.name = "Enter in a multi-line edit presses the default button",
     .dialogId = IDD_AGREEMENT,
     .focusId = IDC_AGREEMENT_TEXT,
     .keys = {{VK_RETURN, kPlain}},
     .focusAfter = IDOK,
     .commands = {{IDOK, BN_CLICKED}}},
    {.name = "Esc is IDCANCEL",
     .keys = {{VK_ESCAPE, kPlain}},
     .focusAfter = IDC_DEVICE_LIST,
     .commands = {{IDCANCEL, BN_CLICKED}}},
    {.name = "space presses the focused button",
     .focusId = IDC_UPGRADE,
     .keys = {{VK_SPACE, kPlain}},
     .focusAfter = IDC_UPGRADE,
     .commands = {{IDC_UPGRADE, BN_CLICKED}}},
};

TEST_P(Conformance, TheDialogManagerTakesTheKeys) {
    for (const KeyCase& c : kKeyCases) {
        SCOPED_TRACE(c.name);
        driver.reset(); // one window system installed at a time
        driver = GetParam().make();
        TestDialog dialog(*driver, static_cast<fw::UINT>(c.dialogId));
        dialog.onInit = [&c](TestDialog& self) {
            if (c.disabledId != 0) {
                fw::Windows().EnableWindow(self.Item(c.disabledId), FALSE);
            }
        };
        driver->Then(c.dialogId, [&] {
            if (c.focusId != 0) {
                driver->Focus(c.focusId);
            }
            for (const auto& [key, modifier] : c.keys) {
                driver->PressKey(key, modifier);
            }
        });
        driver->Then(c.dialogId, [&] {
            EXPECT_EQ(driver->FocusedControl(), c.focusAfter);
            std::vector<std::pair<int, fw::UINT>> commands;
            for (const TestDialog::Command& command : dialog.commands) {
                if (command.code == BN_CLICKED || command.code == LBN_SELCHANGE) {
                    commands.emplace_back(command.id, command.code);
                }
            }
            EXPECT_EQ(commands, c.commands);
            dialog.EndDialog(IDABORT);
        });
        EXPECT_EQ(driver->Run(dialog), IDABORT);
        EXPECT_EQ(driver->Problems(), std::vector<std::string>{});
    }
}

std::vector<Backend> Backends() {
    std::vector<Backend> backends{{"Model", &MakeModelDriver}};
#ifdef _WIN32
    backends.push_back({"Win32", &MakeWin32Driver});
#endif
    return backends;
}

INSTANTIATE_TEST_SUITE_P(WindowSystems, Conformance, testing::ValuesIn(Backends()),
                         [](const testing::TestParamInfo<Backend>& backend) {
                             return std::string(backend.param.name);
                         });

} // namespace
} // namespace conformance

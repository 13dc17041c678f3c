// Start-up, the agreement gate and the main window's own behaviour.
#include <algorithm>
#include <cstring>

#include "app/FirmwareApp.h"
#include "res/Templates.h"
#include "res/Texts.h"
#include "tests/program/Harness.h"

namespace program::test {
namespace {

const std::string kOneDrive = Devices({R"({"revision":"0100"})"});

int CountOps(Headless& ui, const std::string& what, int dialogId, int controlId = 0) {
    const auto ops = ui.Operations();
    return static_cast<int>(
        std::count_if(ops.begin(), ops.end(), [&](const fw::model::Operation& op) {
            return op.what == what && op.dialogId == dialogId && op.controlId == controlId;
        }));
}

TEST(Startup, ClearsSharedStateCreatesAManualResetEventAndReturnsFalse) {
    ProgramRun run(kOneDrive);
    theApp.m_bUpgradeDone = 1;
    theApp.m_nDeviceId = 7;
    run.ui().Then(IDD_AGREEMENT, [](Headless& ui) { ui.Click(IDCANCEL); });
    run.ui().Answer("You must accept", IDNO);

    EXPECT_EQ(run.Run(), FALSE);

    EXPECT_EQ(theApp.m_bUpgradeDone, 0);
    EXPECT_EQ(theApp.m_nDeviceId, 0u);
    ASSERT_NE(theApp.m_hUpgradeEvent, nullptr);
    EXPECT_EQ(fw::WaitForSingleObject(theApp.m_hUpgradeEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    fw::SetEvent(theApp.m_hUpgradeEvent);
    EXPECT_EQ(fw::WaitForSingleObject(theApp.m_hUpgradeEvent, 0),
              static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(fw::WaitForSingleObject(theApp.m_hUpgradeEvent, 0), static_cast<DWORD>(WAIT_OBJECT_0))
        << "a manual-reset event stays signalled";
    EXPECT_EQ(CountOps(run.ui(), "CreateDialog", IDD_DEVICE_DIALOG), 1);
    EXPECT_EQ(theApp.m_pMainWnd, nullptr) << "no dangling main window after the dialog ended";
    EXPECT_TRUE(run.ui().Problems().empty());
}

TEST(Startup, AnEventThatCannotBeCreatedIsReportedAndNoWindowOpens) {
    ProgramRun run(kOneDrive);
    run.kernel().FailEventCreation(true);

    EXPECT_EQ(run.Run(), FALSE);

    ASSERT_EQ(run.Boxes().size(), 1u);
    EXPECT_EQ(run.Boxes()[0].text, res::text::kEventNotCreated);
    EXPECT_EQ(run.Boxes()[0].caption, "fwupgrade");
    EXPECT_EQ(CountOps(run.ui(), "CreateDialog", IDD_DEVICE_DIALOG), 0);
    EXPECT_TRUE(run.Trace().empty());
}

// How the operator leaves the agreement window without agreeing.
struct DeclineWay {
    const char* name;
    bool (*act)(Headless&);
};

class Declining : public ::testing::TestWithParam<DeclineWay> {};

TEST_P(Declining, ThenNoEndsTheProgramBeforeAnyDeviceAccess) {
    ProgramRun run(kOneDrive);
    run.ui().Then(IDD_AGREEMENT, [](Headless& ui) { EXPECT_TRUE(GetParam().act(ui)); });
    run.ui().Answer("You must accept", IDNO);

    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "You must accept the agreement to continue.\nDo you want to go back "
                             "and accept the agreement?");
    EXPECT_EQ(boxes[0].caption, "VORN Electronics Inc.");
    EXPECT_EQ(boxes[0].type, 0x44u);
    EXPECT_EQ(boxes[0].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_TRUE(run.Trace().empty()) << "no library call at all";
    const auto ops = run.ui().Operations();
    const auto ended = std::find_if(ops.begin(), ops.end(), [](const fw::model::Operation& op) {
        return op.what == "EndDialog" && op.dialogId == IDD_DEVICE_DIALOG;
    });
    ASSERT_NE(ended, ops.end());
    EXPECT_EQ(ended->value, IDOK);
    EXPECT_EQ(CountOps(run.ui(), "LB_RESETCONTENT", IDD_DEVICE_DIALOG, IDC_DEVICE_LIST), 0);
    EXPECT_TRUE(run.ui().Problems().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Agreement, Declining,
    ::testing::Values(DeclineWay{"DisagreeButton", [](Headless& ui) { return ui.Click(IDCANCEL); }},
                      DeclineWay{"EscapeKey", [](Headless& ui) { return ui.PressEscape(); }},
                      DeclineWay{"CloseBox", [](Headless& ui) { return ui.PressCloseBox(); }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Agreement, DisagreeThenYesShowsItAgainAsOftenAsTheOperatorLikes) {
    ProgramRun run(kOneDrive);
    for (int i = 0; i < 3; ++i) {
        run.ui().Then(IDD_AGREEMENT, [](Headless& ui) { ui.Click(IDCANCEL); });
        run.ui().Answer("You must accept", IDYES);
    }
    run.Agree();
    run.Done();

    run.Run();

    EXPECT_EQ(CountOps(run.ui(), "CreateDialog", IDD_AGREEMENT), 4);
    EXPECT_EQ(run.TraceOf("GetDeviceType 0").size(), 1u) << "one scan, after the agreement";
    EXPECT_TRUE(run.ui().Problems().empty());
}

TEST(Agreement, ShowsTheWholeAgreementTextEveryTime) {
    ProgramRun run(kOneDrive);
    std::vector<std::string> shown;
    run.ui().Then(IDD_AGREEMENT, [&](Headless& ui) {
        shown.push_back(ui.Control(IDD_AGREEMENT, IDC_AGREEMENT_TEXT)->text);
        ui.Click(IDCANCEL);
    });
    run.ui().Answer("You must accept", IDYES);
    run.ui().Then(IDD_AGREEMENT, [&](Headless& ui) {
        shown.push_back(ui.Control(IDD_AGREEMENT, IDC_AGREEMENT_TEXT)->text);
        ui.Click(IDOK);
    });
    run.Done();
    run.Run();
    EXPECT_EQ(shown, (std::vector<std::string>{res::text::kAgreement, res::text::kAgreement}));
}

TEST(MainWindow, AcceptedHeadingDisabledUpgradeThenScanAndPlacement) {
    ProgramRun run(kOneDrive);
    run.Agree();
    std::string heading;
    run.InMain([&](Headless& ui) {
        heading = ui.Control(IDD_DEVICE_DIALOG, IDC_HEADING)->text;
        ui.Click(IDOK);
    });

    run.Run();

    EXPECT_EQ(heading, "Firmware Upgrade tool for Model  ");
    const auto ops = run.ui().Operations();
    auto position = [&](auto predicate) {
        return std::find_if(ops.begin(), ops.end(), predicate) - ops.begin();
    };
    const auto disabled = position([](const fw::model::Operation& op) {
        return op.what == "EnableWindow" && op.controlId == IDC_UPGRADE && op.value == 0;
    });
    const auto headingSet = position([](const fw::model::Operation& op) {
        return op.what == "SetWindowText" && op.controlId == IDC_HEADING &&
               op.text == "Firmware Upgrade tool for Model  ";
    });
    const auto scan =
        position([](const fw::model::Operation& op) { return op.what == "LB_RESETCONTENT"; });
    EXPECT_LT(disabled, headingSet);
    EXPECT_LT(headingSet, scan) << "members are pushed to the controls before the scan";
    EXPECT_LT(scan, static_cast<std::ptrdiff_t>(ops.size()));
}

TEST(MainWindow, IsMadeTopmostAtTheCornerKeepingItsSizeWhetherAcceptedOrNot) {
    for (bool accept : {true, false}) {
        ProgramRun run(kOneDrive);
        if (accept) {
            run.Agree();
            run.Done();
        } else {
            run.ui().Then(IDD_AGREEMENT, [](Headless& ui) { ui.Click(IDCANCEL); });
            run.ui().Answer("You must accept", IDNO);
        }
        run.Run();
        const auto ops = run.ui().Operations();
        const auto placed =
            std::find_if(ops.begin(), ops.end(), [](const fw::model::Operation& op) {
                return op.what == "SetWindowPos" && op.dialogId == IDD_DEVICE_DIALOG;
            });
        ASSERT_NE(placed, ops.end()) << "accepted: " << accept;
        EXPECT_EQ(placed->text, "topmost");
        EXPECT_EQ(placed->value, 0);          // x 0, y 0
        EXPECT_EQ(placed->extra, SWP_NOSIZE); // moves, keeps its size
    }
}

TEST(MainWindow, SetsBigThenSmallIconFromTheIconGroup) {
    ProgramRun run(kOneDrive);
    run.Agree();
    run.Done();
    run.Run();
    std::vector<std::int64_t> iconTypes;
    for (const auto& op : run.ui().Operations()) {
        if (op.what == "WM_SETICON" && op.dialogId == IDD_DEVICE_DIALOG) {
            iconTypes.push_back(op.value);
            EXPECT_EQ(op.extra, reinterpret_cast<std::intptr_t>(run.ui().LoadIcon(IDR_MAINFRAME)));
        }
    }
    EXPECT_EQ(iconTypes, (std::vector<std::int64_t>{ICON_BIG, ICON_SMALL}));
}

TEST(MainWindow, EscapeRescansAndNeverClosesTheWindow) {
    ProgramRun run(kOneDrive);
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.PressEscape()); });
    run.InMain([](Headless& ui) { EXPECT_NE(ui.Dialog(IDD_DEVICE_DIALOG), nullptr); });
    run.Done();
    run.Run();
    EXPECT_EQ(run.TraceOf("GetDeviceType 0").size(), 2u);
    EXPECT_TRUE(run.ui().Problems().empty());
}

// Minimised, the icon is centred in the client area by signed division toward zero.
TEST(MainWindow, PaintsTheIconCentredWhenMinimised) {
    struct Case {
        RECT client;
        int x, y;
    };
    const Case cases[] = {
        {{0, 0, 100, 60}, 34, 14}, // (100-32+1)/2, (60-32+1)/2
        {{0, 0, 0, 0}, -15, -15},  // -31/2 truncates toward zero, not to -16
        {{0, 0, 33, 32}, 1, 0},
    };
    for (const Case& c : cases) {
        ProgramRun run(kOneDrive);
        run.Agree();
        run.InMain([&](Headless& ui) {
            ui.SetIconic(IDD_DEVICE_DIALOG, true, c.client);
            ui.SendMessage(ui.Dialog(IDD_DEVICE_DIALOG)->handle, WM_PAINT, 0, 0);
            ui.SetIconic(IDD_DEVICE_DIALOG, false, c.client);
        });
        run.Done();
        run.Run();
        std::vector<fw::model::Operation> drawn;
        std::vector<fw::model::Operation> erased;
        for (const auto& op : run.ui().Operations()) {
            if (op.what == "DrawIcon")
                drawn.push_back(op);
            if (op.what == "WM_ICONERASEBKGND")
                erased.push_back(op);
        }
        ASSERT_EQ(drawn.size(), 1u);
        ASSERT_EQ(erased.size(), 1u) << "the background is erased with the paint context";
        EXPECT_EQ(erased[0].extra, 0);
        EXPECT_EQ(static_cast<int>(drawn[0].value >> 32), c.x);
        EXPECT_EQ(static_cast<int>(static_cast<std::int32_t>(drawn[0].value & 0xFFFFFFFF)), c.y);
    }
}

TEST(MainWindow, NotMinimisedPaintingDrawsNoIconAndDragIconIsTheAppIcon) {
    ProgramRun run(kOneDrive);
    run.Agree();
    LRESULT dragIcon = 0;
    run.InMain([&](Headless& ui) {
        HWND main = ui.Dialog(IDD_DEVICE_DIALOG)->handle;
        ui.SendMessage(main, WM_PAINT, 0, 0);
        dragIcon = ui.SendMessage(main, WM_QUERYDRAGICON, 0, 0);
    });
    run.Done();
    run.Run();
    for (const auto& op : run.ui().Operations()) {
        EXPECT_NE(op.what, "DrawIcon");
    }
    EXPECT_EQ(dragIcon, reinterpret_cast<LRESULT>(run.ui().LoadIcon(IDR_MAINFRAME)));
}

TEST(Resources, AgreementTextIsParagraphsSeparatedByCrLf) {
    const std::string text = res::text::kAgreement;
    EXPECT_EQ(text.size(), 1482u);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(text[i - 1], '\r') << "bare line feed at " << i;
        }
    }
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    EXPECT_NE(text.back(), '\n');
}

TEST(Resources, EveryControlOfEveryTemplateSitsInsideItsDialog) {
    for (const auto& dialog : res::AllDialogTemplates()) {
        EXPECT_STREQ(dialog.font, "MS Sans Serif");
        EXPECT_EQ(dialog.pointSize, 8);
        for (const auto& control : dialog.controls) {
            EXPECT_LE(control.x + control.cx, dialog.cx)
                << dialog.name << " control " << control.id;
            EXPECT_LE(control.y + control.cy, dialog.cy)
                << dialog.name << " control " << control.id;
        }
    }
}

} // namespace
} // namespace program::test

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "framework/Styles.h"
#include "framework/tui/Fit.h"
#include "framework/tui/Layout.h"
#include "framework/tui/Pictures.h"
#include "res/Templates.h"
#include "res/Texts.h"
#include "res/resource.h"

using namespace fw::tui;
using fw::FindPicture;
using fw::InstallPictures;
using fw::Picture;
using fw::UINT;

namespace {

const res::ControlTemplate& ControlOf(int dialogId, int controlId) {
    const res::DialogTemplate* dialog = res::FindDialogTemplate(dialogId);
    EXPECT_NE(dialog, nullptr);
    for (const auto& control : dialog->controls) {
        if (control.id == controlId) {
            return control;
        }
    }
    ADD_FAILURE() << "no control " << controlId;
    return dialog->controls.front();
}

CellRect Cells(const res::ControlTemplate& c) { return ToCells(c.x, c.y, c.cx, c.cy); }

} // namespace

TEST(Cells, FourUnitsAColumnAndEightARowRoundedToTheNearestCell) {
    const CellRect list = ToCells(7, 20, 166, 75);
    EXPECT_EQ(list.col, 2);    // 1.75
    EXPECT_EQ(list.row, 3);    // 2.5, halves up
    EXPECT_EQ(list.width, 41); // right edge 43.25 -> 43
    EXPECT_EQ(list.height, 9); // bottom 11.875 -> 12
    const CellRect origin = ToCells(0, 0, 4, 8);
    EXPECT_EQ(origin.col, 0);
    EXPECT_EQ(origin.row, 0);
    EXPECT_EQ(origin.width, 1);
    EXPECT_EQ(origin.height, 1);
}

TEST(Cells, TinyControlsStillGetACell) {
    const CellRect rect = ToCells(9, 9, 1, 1);
    EXPECT_EQ(rect.width, 1);
    EXPECT_EQ(rect.height, 1);
}

TEST(Cells, EveryControlOfEveryDialogLiesInsideItsClientArea) {
    for (const auto& dialog : res::AllDialogTemplates()) {
        const CellRect client = ToCells(0, 0, dialog.cx, dialog.cy);
        for (const auto& control : dialog.controls) {
            const CellRect rect = Cells(control);
            EXPECT_GE(rect.col, 0) << dialog.name << " " << control.id;
            EXPECT_GE(rect.row, 0) << dialog.name << " " << control.id;
            EXPECT_LE(rect.col + rect.width, client.width) << dialog.name << " " << control.id;
            EXPECT_LE(rect.row + rect.height, client.height) << dialog.name << " " << control.id;
        }
    }
}

TEST(Cells, TheMainWindowsButtonsKeepSeparateRowsAndSitRightOfTheList) {
    const CellRect list = Cells(ControlOf(IDD_DEVICE_DIALOG, IDC_DEVICE_LIST));
    std::set<int> rows;
    for (const int id : {IDC_UPGRADE, IDCANCEL, IDOK}) {
        const CellRect button = Cells(ControlOf(IDD_DEVICE_DIALOG, id));
        EXPECT_GT(button.col, list.col + list.width) << id;
        rows.insert(button.row + (button.height - 1) / 2);
    }
    EXPECT_EQ(rows.size(), 3u);
}

TEST(Cells, TheAgreementNeedsMoreThanEightyColumns) {
    const res::DialogTemplate* agreement = res::FindDialogTemplate(IDD_AGREEMENT);
    ASSERT_NE(agreement, nullptr);
    const CellRect client = ToCells(0, 0, agreement->cx, agreement->cy);
    EXPECT_EQ(client.width + 2, 81);
    EXPECT_EQ(client.height + 2, 26);
}

TEST(Mnemonic, TheMarkedLetterIsFoundAndTheMarkerDropped) {
    const Mnemonic upgrade = ParseMnemonic("&Upgrade Firmware");
    EXPECT_EQ(upgrade.label, "Upgrade Firmware");
    EXPECT_EQ(upgrade.index, 0);
    EXPECT_EQ(upgrade.key, 'u');
    const Mnemonic middle = ParseMnemonic("Re&scan");
    EXPECT_EQ(middle.label, "Rescan");
    EXPECT_EQ(middle.index, 2);
    EXPECT_EQ(middle.key, 's');
}

TEST(Mnemonic, DoubledAmpersandIsAPlainAmpersand) {
    const Mnemonic text = ParseMnemonic("Save && &Quit");
    EXPECT_EQ(text.label, "Save & Quit");
    EXPECT_EQ(text.index, 7);
    EXPECT_EQ(text.key, 'q');
    const Mnemonic none = ParseMnemonic("A&&B");
    EXPECT_EQ(none.label, "A&B");
    EXPECT_EQ(none.index, -1);
    EXPECT_EQ(none.key, 0);
}

TEST(Mnemonic, OnlyTheFirstMarkerCountsAndATrailingOneStays) {
    const Mnemonic two = ParseMnemonic("&One &Two");
    EXPECT_EQ(two.label, "One Two");
    EXPECT_EQ(two.key, 'o');
    const Mnemonic trailing = ParseMnemonic("End&");
    EXPECT_EQ(trailing.label, "End&");
    EXPECT_EQ(trailing.key, 0);
}

TEST(Mnemonic, EveryButtonOfTheProgramHasADistinctLetterPerDialog) {
    for (const auto& dialog : res::AllDialogTemplates()) {
        std::set<char> keys;
        for (const auto& control : dialog.controls) {
            if (control.kind == res::ControlKind::PushButton) {
                const Mnemonic mnemonic = ParseMnemonic(control.text);
                EXPECT_NE(mnemonic.key, 0) << control.text;
                EXPECT_TRUE(keys.insert(mnemonic.key).second) << dialog.name << " " << control.text;
            }
        }
    }
}

TEST(Text, TabsStopEveryEightColumns) {
    EXPECT_EQ(ExpandTabs("a\tb"), "a       b");
    EXPECT_EQ(ExpandTabs("Sense Key: \t\tX"), "Sense Key:              X");
    EXPECT_EQ(ExpandTabs("12345678\tx"), "12345678        x");
}

TEST(Text, LinesSplitAtEveryKindOfLineEnd) {
    const auto lines = WrapText("one\r\ntwo\nthree\rfour", 80);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "one");
    EXPECT_EQ(lines[1], "two");
    EXPECT_EQ(lines[2], "three");
    EXPECT_EQ(lines[3], "four");
}

TEST(Text, LongLinesWrapAtTheLastBlankThatFits) {
    const auto lines = WrapText("the quick brown fox jumps", 10);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "the quick");
    EXPECT_EQ(lines[1], "brown fox");
    EXPECT_EQ(lines[2], "jumps");
    for (const auto& line : WrapText(res::text::kAgreement, 38)) {
        EXPECT_LE(line.size(), 38u) << line;
    }
}

TEST(Text, AWordLongerThanTheWidthIsCut) {
    const auto lines = WrapText("abcdefghij", 4);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "abcd");
    EXPECT_EQ(lines[1], "efgh");
    EXPECT_EQ(lines[2], "ij");
}

TEST(Text, LinesThatFitKeepTheirBlanksAndEmptyLinesStay) {
    const auto lines = WrapText("WARNING !!!\r\n\r\n  two  blanks", 40);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2], "  two  blanks");
}

TEST(Text, WrappingLosesNoWord) {
    std::string joined;
    for (const auto& line : WrapText(res::text::kAgreement, 30)) {
        joined += line + " ";
    }
    std::string original = res::text::kAgreement;
    std::replace(original.begin(), original.end(), '\r', ' ');
    std::replace(original.begin(), original.end(), '\n', ' ');
    auto squeeze = [](std::string s) {
        std::string out;
        for (const char c : s) {
            if (!(c == ' ' && !out.empty() && out.back() == ' ')) {
                out += c;
            }
        }
        while (!out.empty() && out.back() == ' ') {
            out.pop_back();
        }
        return out;
    };
    EXPECT_EQ(squeeze(joined), squeeze(original));
}

TEST(MessageBoxes, ButtonsFollowTheTypeAndYesNoHaveLetters) {
    const auto ok = MessageBoxButtons(MB_OK);
    ASSERT_EQ(ok.size(), 1u);
    EXPECT_EQ(ok[0].id, IDOK);
    const auto yesNo = MessageBoxButtons(MB_YESNO | MB_ICONEXCLAMATION);
    ASSERT_EQ(yesNo.size(), 2u);
    EXPECT_EQ(yesNo[0].id, IDYES);
    EXPECT_EQ(yesNo[0].key, 'y');
    EXPECT_EQ(yesNo[1].id, IDNO);
    EXPECT_EQ(yesNo[1].key, 'n');
    const auto okCancel = MessageBoxButtons(MB_OKCANCEL);
    ASSERT_EQ(okCancel.size(), 2u);
    EXPECT_EQ(okCancel[1].id, IDCANCEL);
}

TEST(MessageBoxes, TheSafeAnswerIsNeverYes) {
    for (fw::UINT type = 0; type <= 5; ++type) {
        EXPECT_NE(SafeAnswer(type), IDYES) << type;
    }
    EXPECT_EQ(SafeAnswer(MB_YESNO | MB_ICONEXCLAMATION), IDNO);
    EXPECT_EQ(SafeAnswer(MB_OK | MB_ICONSTOP), IDOK);
    EXPECT_EQ(SafeAnswer(MB_OKCANCEL), IDCANCEL);
}

TEST(MessageBoxes, IconMarks) {
    EXPECT_EQ(IconMark(MB_ICONEXCLAMATION), "[!]");
    EXPECT_EQ(IconMark(MB_ICONINFORMATION | MB_YESNO), "[i]");
    EXPECT_EQ(IconMark(MB_ICONSTOP), "[X]");
    EXPECT_EQ(IconMark(MB_ICONQUESTION), "[?]");
    EXPECT_EQ(IconMark(MB_OK), "");
}

TEST(MessageBoxes, LayoutHoldsTextAndButtonsCentred) {
    const auto layout = LayOutMessageBox(res::text::kConfirmUpgrade, "VORN - Tape Firmware Upgrade",
                                         MB_YESNO | MB_ICONEXCLAMATION, 76);
    EXPECT_EQ(layout.icon, "[!]");
    EXPECT_EQ(layout.lines.front(), "C A U T I O N ! ! !");
    EXPECT_EQ(layout.lines.back(), "Are you sure you want to upgrade Current Firmware?");
    EXPECT_LE(layout.width, 76);
    EXPECT_EQ(layout.textCol, layout.iconCol + 4);
    EXPECT_EQ(layout.height, static_cast<int>(layout.lines.size()) + 5);
    EXPECT_EQ(layout.buttonRow, layout.height - 2);
    for (const auto& line : layout.lines) {
        EXPECT_LE(layout.textCol + static_cast<int>(line.size()), layout.width - 2) << line;
    }
    ASSERT_EQ(layout.buttons.size(), 2u);
    const int left = layout.buttons[0].col;
    const int right = layout.width - (layout.buttons[1].col + layout.buttons[1].width);
    EXPECT_LE(std::abs(left - right), 1);
    EXPECT_LT(layout.buttons[0].col + layout.buttons[0].width, layout.buttons[1].col);
}

TEST(MessageBoxes, NarrowScreensWrapTheTextAndDropTrailingEmptyLines) {
    const auto layout = LayOutMessageBox(res::text::kWrongDevice, "VORN - Firmware Upgrade Utility",
                                         MB_OK | MB_ICONSTOP, 30);
    EXPECT_LE(layout.width, 30);
    EXPECT_GT(layout.lines.size(), 2u);
    EXPECT_FALSE(layout.lines.back().empty());
    for (const auto& line : layout.lines) {
        EXPECT_LE(layout.textCol + static_cast<int>(line.size()), layout.width - 2) << line;
    }
}

TEST(MessageBoxes, ALongCaptionWidensTheBox) {
    const auto layout = LayOutMessageBox("x", "A caption that is rather long indeed", MB_OK, 76);
    EXPECT_GE(layout.width, 36 + 6);
}

namespace {

// The dialogs with the texts the program puts in them while it runs (a drive's product
// name is padded to 16 characters).
struct Shown {
    int dialogId;
    std::vector<std::pair<int, std::string>> texts; // control id -> text
    std::vector<std::string> items;                 // of the list box
};

const std::vector<Shown>& ShownDialogs() {
    static const std::vector<Shown> shown{
        {IDD_AGREEMENT, {{IDC_AGREEMENT_TEXT, res::text::kAgreement}}, {}},
        {IDD_DEVICE_DIALOG,
         {{IDC_HEADING, "Firmware Upgrade tool for Model KMR-47000        "},
          {IDC_MODEL, "KMR-47000       "},
          {IDC_REVISION, "0100"}},
         {"00:HA#01 TID#05 VORN     KMR-47000        ",
          "15:HA#15 TID#15 VORN     KMR-47000        "}},
        {IDD_PROGRESS, {{IDC_WARNING_TEXT, res::text::kDownloadWarning}}, {}},
    };
    return shown;
}

struct Content {
    const res::DialogTemplate* dialog;
    std::vector<std::string> texts;
    std::vector<ControlContent> controls;
};

Content ContentOf(const Shown& shown) {
    Content content{res::FindDialogTemplate(shown.dialogId), {}, {}};
    for (const auto& control : content.dialog->controls) {
        std::string text = control.text;
        for (const auto& [id, value] : shown.texts) {
            if (id == control.id) {
                text = value;
            }
        }
        content.texts.push_back(text);
    }
    for (std::size_t i = 0; i < content.texts.size(); ++i) {
        const bool list = content.dialog->controls[i].kind == res::ControlKind::ListBox;
        content.controls.push_back(
            ControlContent{content.texts[i], list ? std::span<const std::string>(shown.items)
                                                  : std::span<const std::string>()});
    }
    return content;
}

} // namespace

TEST(Fit, EveryDialogFitsEveryTerminalFromEightyByTwentyFourWithNoTextCut) {
    const std::pair<int, int> sizes[] = {{80, 24}, {81, 26}, {100, 40}, {80, 40}, {132, 24}};
    for (const auto& shown : ShownDialogs()) {
        const Content content = ContentOf(shown);
        for (const auto& [cols, rows] : sizes) {
            const auto where = std::string(content.dialog->name) + " at " + std::to_string(cols) +
                               "x" + std::to_string(rows);
            const auto cells =
                FitDialog(*content.dialog, content.dialog->caption, content.controls, cols, rows);
            ASSERT_TRUE(cells.has_value()) << where;
            EXPECT_LE(cells->FrameWidth(), cols) << where;
            EXPECT_LE(cells->FrameHeight(), rows) << where;
            for (std::size_t i = 0; i < cells->controls.size(); ++i) {
                const CellRect& rect = cells->controls[i];
                EXPECT_GE(rect.col, 0) << where << " control " << i;
                EXPECT_GE(rect.row, 0) << where << " control " << i;
                EXPECT_LE(rect.col + rect.width, cells->client.width) << where << " control " << i;
                EXPECT_LE(rect.row + rect.height, cells->client.height)
                    << where << " control " << i;
            }
            const auto cut =
                FirstCutText(*content.dialog, *cells, content.dialog->caption, content.controls);
            EXPECT_FALSE(cut.has_value()) << where << ": " << (cut ? cut->text : "");
        }
    }
}

TEST(Fit, TheSmallestScreenIsTheRealMinimum) {
    for (const auto& shown : ShownDialogs()) {
        const Content content = ContentOf(shown);
        const res::DialogTemplate& dialog = *content.dialog;
        const ScreenSize least = SmallestScreen(dialog, dialog.caption, content.controls);
        const int fullRows = LayOutDialog(dialog, CellScale{}).FrameHeight();
        EXPECT_TRUE(FitDialog(dialog, dialog.caption, content.controls, least.cols, least.rows))
            << dialog.name;
        EXPECT_FALSE(FitDialog(dialog, dialog.caption, content.controls, least.cols - 1, fullRows))
            << dialog.name;
        EXPECT_FALSE(
            FitDialog(dialog, dialog.caption, content.controls, least.cols, least.rows - 1))
            << dialog.name;
    }
}

TEST(Fit, AControlRoundedOntoItsGroupBoxFrameIsNotAFit) {
    // At this scale "Firmware Revision" lands on the bottom line of "Device Information".
    const res::DialogTemplate& dialog = *res::FindDialogTemplate(IDD_DEVICE_DIALOG);
    const auto content = TemplateContent(dialog);
    const auto cut =
        FirstCutText(dialog, LayOutDialog(dialog, CellScale{64, 129}), dialog.caption, content);
    ASSERT_TRUE(cut.has_value());
    EXPECT_EQ(cut->text, "Firmware Revision");
    const auto cells = FitDialog(dialog, dialog.caption, content, 80, 24);
    ASSERT_TRUE(cells.has_value());
    EXPECT_FALSE(FirstCutText(dialog, *cells, dialog.caption, content));
}

namespace {

using res::ControlKind;
using res::ControlTemplate;

// A dialog of one fault: 160 x 80 units, 40 x 10 cells at full size. Five rows (a quarter of
// the full size) is as small as any dialog gets.
struct Fault {
    const char* what;
    std::vector<ControlTemplate> controls;
    std::uint32_t style;
    const char* caption;
    ScreenSize least; // the smallest screen that shows every text whole
};

} // namespace

TEST(Fit, ATextThatWouldLoseCharactersStopsTheShrinking) {
    const std::vector<Fault> faults{
        {"one-line text up to the dialog's edge",
         {{1, ControlKind::Static, "twenty-eight characters....", 0, 0, 60, 8, 0, 0, 0}},
         0,
         "",
         {29, 5}},
        {"one-line text up to the next control",
         {{1, ControlKind::Static, "sixteen chars...", 0, 0, 40, 8, 0, 0, 0},
          {2, ControlKind::Progress, "", 80, 0, 80, 8, 0, 0, 0}},
         0,
         "",
         {35, 5}},
        {"wrapped text that needs its three rows",
         {{1, ControlKind::Static, "one two three four five six seven", 0, 0, 64, 24, 0, 0, 0}},
         0,
         "",
         {34, 10}},
        {"button label as wide as the dialog",
         {{1, ControlKind::PushButton, "&A rather long button", 40, 40, 80, 16, 0, 0, 0}},
         0,
         "",
         {26, 5}},
        {"buttons side by side",
         {{1, ControlKind::PushButton, "&Continue", 0, 40, 60, 16, 0, 0, 0},
          {2, ControlKind::PushButton, "&Stop now", 64, 40, 60, 16, 0, 0, 0}},
         0,
         "",
         {32, 5}},
        {"edit without a scroll bar",
         {{1, ControlKind::Edit, "line one\r\nline two\r\nline three", 0, 0, 160, 24, 0, 0, 0}},
         0,
         "",
         {12, 10}},
        {"caption clear of the close box",
         {},
         fw::style::WS_SYSMENU,
         "A caption of thirty characters",
         {40, 5}},
    };
    for (const Fault& fault : faults) {
        const res::DialogTemplate dialog{
            1, "FAULT", false, fault.caption, 0, 0, 160, 80, fault.style, 0, "", 8, fault.controls};
        const auto content = TemplateContent(dialog);
        const ScreenSize least = SmallestScreen(dialog, dialog.caption, content);
        EXPECT_EQ(least.cols, fault.least.cols) << fault.what;
        EXPECT_EQ(least.rows, fault.least.rows) << fault.what;
    }
}

TEST(Pictures, InstalledPicturesAreFoundByTheirResourceId) {
    const std::uint8_t pixel[] = {1, 2, 3};
    const Picture table[] = {{IDB_DRIVE_PICTURE, 1, 1, pixel}};
    InstallPictures(table);
    ASSERT_NE(FindPicture(IDB_DRIVE_PICTURE), nullptr);
    EXPECT_EQ(FindPicture(IDB_DRIVE_PICTURE)->rgb, pixel);
    EXPECT_EQ(FindPicture(IDB_AGREEMENT_PICTURE), nullptr);
    InstallPictures({});
    EXPECT_EQ(FindPicture(IDB_DRIVE_PICTURE), nullptr);
}

TEST(Pictures, EachPixelOfTheResizedPictureIsTheMeanOfThoseItCovers) {
    // 4 x 2: a black and white left half, a red right half.
    const std::uint8_t rgb[] = {0,   0,   0,   255, 255, 255, 200, 0, 0, 200, 0, 0,
                                255, 255, 255, 0,   0,   0,   100, 0, 0, 100, 0, 0};
    const Picture picture{1, 4, 2, rgb};
    const auto halves = Resize(picture, 2, 1);
    ASSERT_EQ(halves.size(), 2u);
    EXPECT_EQ(halves[0], (Rgb{128, 128, 128}));
    EXPECT_EQ(halves[1], (Rgb{150, 0, 0}));
    // Larger than the picture: each pixel repeated.
    const auto doubled = Resize(picture, 8, 4);
    ASSERT_EQ(doubled.size(), 32u);
    EXPECT_EQ(doubled[0], (Rgb{0, 0, 0}));
    EXPECT_EQ(doubled[2], (Rgb{255, 255, 255}));
    EXPECT_EQ(doubled[31], (Rgb{100, 0, 0}));
}

TEST(Pictures, ColoursMapToTheNearestOfTheTerminalsPalette) {
    const struct {
        Rgb colour;
        int of256;
        int of8;
    } cases[] = {
        {{255, 0, 0}, 196, 1},     // cube corner; red
        {{0, 0, 0}, 16, 0},        // black from the cube, not the changeable first 16
        {{128, 128, 128}, 244, 7}, // a grey of the ramp; a light one is white of the 8
        {{70, 70, 80}, 239, 0},    // a dark one black, not blue
        {{200, 200, 200}, 251, 7}, // white of the 8
        {{60, 200, 90}, 77, 2},    // the agreement's arrow: green
        {{0, 0, 128}, 18, 4},      // navy: blue
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Nearest256(c.colour), c.of256) << int{c.colour.r} << "," << int{c.colour.g};
        EXPECT_EQ(Nearest8(c.colour), c.of8) << int{c.colour.r} << "," << int{c.colour.g};
    }
}

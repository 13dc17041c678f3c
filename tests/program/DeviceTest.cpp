// The device scan and the selection of a drive, checked by what the windows show and by
// the library calls each case makes.
#include <algorithm>

#include "app/FirmwareApp.h"
#include "devices/ListEntry.h"
#include "tests/program/Harness.h"

namespace program::test {
namespace {

bool UpgradeEnabled(Headless& ui) { return ui.Control(IDD_DEVICE_DIALOG, IDC_UPGRADE)->enabled; }
std::string Text(Headless& ui, int id) { return ui.Control(IDD_DEVICE_DIALOG, id)->text; }

// A list entry the operator could not have seen: the selection parses whatever text the
// list holds, so a test can point it at any library index.
void ChooseEntry(Headless& ui, const std::string& entry) {
    HWND list = ui.Control(IDD_DEVICE_DIALOG, IDC_DEVICE_LIST)->handle;
    const auto at = ui.SendMessage(list, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                                   reinterpret_cast<LPARAM>(entry.c_str()));
    EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, static_cast<int>(at)));
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

TEST(Scan, NoDeviceAtAllMakesNoInquiryAndSaysSo) {
    ProgramRun run(Devices({}));
    run.Agree();
    run.Done();
    run.Run();

    EXPECT_EQ(run.Trace(), (std::vector<std::string>{"ZurvaxOpen -> 0", "GetDeviceType 0 -> 31"}));
    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "No supported Vorn tape devices found !!!");
    EXPECT_EQ(boxes[0].caption, "fwupgrade");
    EXPECT_EQ(boxes[0].type, 0u);
    EXPECT_EQ(boxes[0].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_TRUE(run.ListItems().empty());
}

TEST(Scan, ListsDrivesInIndexOrderAndQualifiesTheFirst) {
    ProgramRun run(Devices({R"({"type":0,"vendor":"DISKCO","product":"KMR-47000"})",
                            R"({"host_adapter":1,"target":5})",
                            R"({"host_adapter":2,"target":12,"revision":"0150"})"},
                           R"("end_of_list":"inquiry")"));
    run.Agree();
    bool enabled = false;
    run.InMain([&](Headless& ui) { enabled = UpgradeEnabled(ui); });
    run.Done();
    run.Run();

    EXPECT_EQ(run.ListItems(),
              (std::vector<std::string>{"01:HA#01 TID#05 VORN     KMR-47000        ",
                                        "02:HA#02 TID#12 VORN     KMR-47000        "}));
    EXPECT_EQ(theApp.m_nDeviceId, 1u);
    EXPECT_TRUE(enabled);
    const auto trace = run.Trace();
    // The scan walks to the end, then the selection reads index 1 afresh and tests it twice.
    EXPECT_EQ(Count(trace, "ReadRawInquiryData 3 -> aa82"), 1u);
    EXPECT_EQ(Count(trace, "ReadRawInquiryData 1 -> 0"), 2u);
    EXPECT_EQ(Count(trace, "GetScsiPath 0 -> 00000000"), 1u) << "every device reaching the test";
    EXPECT_EQ(Count(trace, "GetScsiPath 1 -> 00010500"), 2u);
    EXPECT_EQ(run.TraceOf("TestUnitReady"),
              (std::vector<std::string>{"TestUnitReady 1 -> 2900", "TestUnitReady 1 -> 3a00"}));
    EXPECT_TRUE(run.TraceOf("TestUnitReady 2").empty());
}

TEST(Scan, ListsByDeviceTypeAndTheNineCharacterModelPrefixOnly) {
    ProgramRun run(Devices({R"({"product":"KMR-4700"})",    // eight characters: no
                            R"({"product":"KMR-47000XL"})", // longer: yes
                            R"({"qualifier":1})",           // byte 0 0x21: yes
                            R"({"type":8})",                // changer: no
                            R"({"product":"kmr-47000"})",   // case matters: no
                            R"({"vendor":"OTHERCO"})"}));   // vendor not looked at: yes
    run.Agree();
    run.Done();
    run.Run();

    const auto items = run.ListItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0], "01:HA#00 TID#01 VORN     KMR-47000XL      ");
    EXPECT_EQ(items[1].substr(0, 3), "02:");
    EXPECT_EQ(items[2], "05:HA#00 TID#05 OTHERCO  KMR-47000        ");
}

TEST(Scan, ADriveAtIndexOneHundredIsListedButChoosingItCannotBeUpgraded) {
    std::vector<std::string> devices(100, R"({"type":0})");
    devices[0] = R"({"revision":"0120"})";
    devices.push_back(R"({"revision":"0999","target":3})");
    ProgramRun run(Devices(devices));
    run.Agree();
    run.InMain([](Headless& ui) {
        EXPECT_TRUE(UpgradeEnabled(ui));
        EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, 1));
        // The fields still show the drive chosen before: Upgrade would flash that one.
        EXPECT_FALSE(UpgradeEnabled(ui));
        EXPECT_EQ(Text(ui, IDC_REVISION), "0120");
    });
    run.Done();
    run.Run();

    ASSERT_EQ(run.ListItems().size(), 2u);
    EXPECT_EQ(run.ListItems()[1], "100:HA#00 TID#03 VORN     KMR-47000        ");
    EXPECT_EQ(theApp.m_nDeviceId, 0u);
    EXPECT_EQ(run.TraceOf("ReadRawInquiryData 100").size(), 1u) << "only the scan's";
}

TEST(Scan, AFailingInquiryIsReportedOnceWithoutOwnerAndTheScanGoesOn) {
    ProgramRun run(
        Devices({"{}", R"({"faults":[{"op":"ReadRawInquiryData","status":"0x10002"}]})", "{}"}));
    run.Agree();
    run.Done();
    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Error: 10002\nRead Sense Data ?");
    EXPECT_EQ(boxes[0].ownerDialogId, 0);
    EXPECT_EQ(run.ListItems().size(), 2u);
    EXPECT_EQ(run.ListItems()[1].substr(0, 3), "02:");
    EXPECT_EQ(run.TraceOf("GetScsiPath 1").size(), 1u) << "the failed device is still judged";
}

TEST(Scan, SenseOfferedAfterAFailedScanInquiryComesFromTheDeviceSelectedLast) {
    ProgramRun run(Devices({R"({"sense":"70 00 02 00 00 00 00 0A 00 00 00 00 3A 00 00"})",
                            R"({"faults":[{"op":"ReadRawInquiryData","from":2,"status":"0x10002"}],
             "sense":"70 00 04 00 00 00 00 0A 00 00 00 00 44 00 00"})"}));
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDCANCEL)); });
    run.ui().Answer("Error: 10002", IDYES);
    run.Done();
    run.Run();

    EXPECT_EQ(run.TraceOf("RequestSense"), (std::vector<std::string>{"RequestSense 0 -> 0"}));
    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[1].text.find("Sense Key: \t\tNot Ready"), std::string::npos);
    EXPECT_EQ(theApp.m_nDeviceId, 0u);
}

TEST(Scan, RescanAndEscapeRebuildTheListAndQualifyTheFirstAgain) {
    ProgramRun run(Devices({"{}", R"({"revision":"0150"})"}));
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, 1)); });
    run.InMain([](Headless& ui) {
        EXPECT_EQ(Text(ui, IDC_REVISION), "0150");
        EXPECT_TRUE(ui.Click(IDCANCEL));
        EXPECT_EQ(Text(ui, IDC_REVISION), "0100");
        EXPECT_TRUE(ui.PressEscape());
    });
    run.Done();
    run.Run();

    EXPECT_EQ(run.TraceOf("GetDeviceType 0").size(), 3u);
    EXPECT_EQ(run.ListItems().size(), 2u);
    EXPECT_EQ(theApp.m_nDeviceId, 0u);
    int resets = 0;
    for (const auto& op : run.ui().Operations())
        resets += op.what == "LB_RESETCONTENT";
    EXPECT_EQ(resets, 3);
}

struct ReadinessCase {
    const char* name;
    const char* secondStatus; // the fault on the second readiness test
    bool enabled;
    bool reported;
};

class Readiness : public ::testing::TestWithParam<ReadinessCase> {};

// The first answer never matters; the second must be ready, without a tape, or not ready
// for a reason the drive cannot tell.
TEST_P(Readiness, SecondTestDecidesTheButton) {
    const auto& c = GetParam();
    ProgramRun run(Devices(
        {std::string(R"({"type":1,"faults":[{"op":"TestUnitReady","from":1,"status":"0x10002"},)") +
         R"({"op":"TestUnitReady","from":2,"status":")" + c.secondStatus + R"("}]})"}));
    run.Agree();
    run.Done();
    run.Run();

    ASSERT_EQ(run.TraceOf("TestUnitReady").size(), 2u);
    EXPECT_EQ(run.ui().Operations().empty(), false);
    bool enabled = false;
    for (const auto& op : run.ui().Operations()) {
        if (op.what == "EnableWindow" && op.controlId == IDC_UPGRADE)
            enabled = op.value != 0;
    }
    EXPECT_EQ(enabled, c.enabled);
    EXPECT_EQ(run.Boxes().size(), c.reported ? 1u : 0u);
    if (c.reported) {
        EXPECT_EQ(run.Boxes()[0].ownerDialogId, IDD_DEVICE_DIALOG);
    }
}

INSTANTIATE_TEST_SUITE_P(Selection, Readiness,
                         ::testing::Values(ReadinessCase{"Ready", "0x0", true, false},
                                           ReadinessCase{"NoTape", "0x3A00", true, false},
                                           ReadinessCase{"NotReportable", "0x0400", true, false},
                                           ReadinessCase{"Becoming", "0x0401", false, true},
                                           ReadinessCase{"Timeout", "0x10003", false, true}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Selection, AReadinessFailureLeavesTheButtonAsThePreviousChoiceLeftIt) {
    ProgramRun run(
        Devices({"{}", R"({"faults":[{"op":"TestUnitReady","count":0,"status":"0x10003"}]})",
                 R"({"type":8,"vendor":"VORN"})"}));
    run.Agree();
    run.InMain([](Headless& ui) {
        ASSERT_TRUE(UpgradeEnabled(ui));
        EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, 1));
        EXPECT_TRUE(UpgradeEnabled(ui)) << "enabled before, enabled after the report";
        EXPECT_EQ(theApp.m_nDeviceId, 1u) << "the failing drive is still the current one";
        ChooseEntry(ui, "02:HA#00 TID#02 VORN     KMR-47000        ");
        EXPECT_FALSE(UpgradeEnabled(ui)) << "the changer with a vendor is rejected";
        EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, 1));
        EXPECT_FALSE(UpgradeEnabled(ui)) << "disabled before, disabled after the report";
    });
    run.Done();
    run.Run();
    const auto texts = run.BoxTexts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Error: 10003\nRead Sense Data ?"), 2);
}

TEST(Selection, PathByteThreeOfOneDisablesUpgradeSilently) {
    ProgramRun run(Devices({R"({"lun":1,"revision":"0310"})"}));
    run.Agree();
    run.InMain([](Headless& ui) {
        EXPECT_FALSE(UpgradeEnabled(ui));
        EXPECT_EQ(Text(ui, IDC_MODEL), "KMR-47000");
        EXPECT_EQ(Text(ui, IDC_REVISION), "0310");
    });
    run.Done();
    run.Run();
    EXPECT_TRUE(run.Boxes().empty());
    EXPECT_EQ(run.TraceOf("TestUnitReady").size(), 2u);
}

TEST(Selection, MediumChangersQualifyOnlyWithBlankIdentification) {
    ProgramRun run(Devices({"{}", R"({"type":8,"vendor":"","product":"","revision":"1.00"})",
                            R"({"type":8,"vendor":"ACME","product":""})"}));
    run.Agree();
    run.InMain([](Headless& ui) {
        ChooseEntry(ui, "01:HA#00 TID#01 ");
        EXPECT_TRUE(UpgradeEnabled(ui));
        EXPECT_EQ(Text(ui, IDC_MODEL), "");
        EXPECT_EQ(Text(ui, IDC_REVISION), "1.00");
        ChooseEntry(ui, "02:HA#00 TID#02 ACME     ");
        EXPECT_FALSE(UpgradeEnabled(ui));
    });
    run.Done();
    run.Run();
    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "The Device may not be a tape drive or\nit may be the incorrect tape dirve model.\n");
    EXPECT_EQ(boxes[0].caption, "VORN - Firmware Upgrade Utility");
    EXPECT_EQ(boxes[0].type, 0x10u);
    EXPECT_EQ(boxes[0].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_EQ(run.TraceOf("TestUnitReady 2").size(), 0u) << "a rejected device is not tested";
}

TEST(Selection, ModelIsTrimmedButTheRevisionKeepsItsBlanks) {
    ProgramRun run(Devices({R"({"product":"KMR-47000","revision":"1A"})"}));
    run.Agree();
    run.InMain([](Headless& ui) {
        EXPECT_EQ(Text(ui, IDC_MODEL), "KMR-47000");
        EXPECT_EQ(Text(ui, IDC_REVISION), "1A  ");
    });
    run.Done();
    run.Run();
}

TEST(Selection, AFailedInquiryGivesTheReportThenTheRejectionAndKeepsTheOldTexts) {
    ProgramRun run(Devices(
        {R"({"revision":"0111"})",
         R"({"revision":"0222","faults":[{"op":"ReadRawInquiryData","from":2,"status":"0x10003"}]})"}));
    run.Agree();
    run.InMain([](Headless& ui) {
        ASSERT_TRUE(UpgradeEnabled(ui));
        EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, 1));
        EXPECT_FALSE(UpgradeEnabled(ui));
        EXPECT_EQ(Text(ui, IDC_REVISION), "0111");
        EXPECT_EQ(theApp.m_nDeviceId, 1u);
    });
    run.ui().Answer("Error: 10003", IDYES);
    run.Done();
    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].text, "Error: 10003\nRead Sense Data ?");
    EXPECT_EQ(boxes[0].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_EQ(boxes[1].caption, "ZEM Tape Control Sense Data");
    EXPECT_EQ(boxes[2].caption, "VORN - Firmware Upgrade Utility");
    EXPECT_EQ(run.TraceOf("RequestSense"), (std::vector<std::string>{"RequestSense 1 -> 0"}))
        << "the device becomes current before its failure is reported";
    EXPECT_EQ(run.TraceOf("GetScsiPath 1").size(), 1u) << "the path is not fetched after a failure";
}

TEST(Selection, EveryRunPushesTheMembersToTheControls) {
    ProgramRun run(Devices({"{}"}));
    run.Agree();
    run.InMain([](Headless& ui) { ChooseEntry(ui, "junk"); });
    run.Done();
    run.Run();
    int headingPushes = 0;
    for (const auto& op : run.ui().Operations()) {
        headingPushes += op.what == "SetWindowText" && op.controlId == IDC_HEADING;
    }
    EXPECT_EQ(headingPushes, 1 + 1 + 1 + 1) << "init, accept, first selection, the junk entry";
    EXPECT_EQ(run.TraceOf("ReadRawInquiryData 0").size(), 2u);
}

TEST(ListEntry, FieldsStopAtTheirWidthOrAZeroByteAndTheEntryRoundTrips) {
    INQUIRY_DATA inquiry{};
    std::fill(std::begin(inquiry.bytes), std::end(inquiry.bytes), std::uint8_t{0xFF});
    const SCSI_PATH path{{0, 7, 9, 0}};
    const CString entry = FormatListEntry(42, path, inquiry);
    EXPECT_EQ(entry.GetLength(), 16 + 8 + 1 + 16 + 1);
    EXPECT_TRUE(IsDeviceEntry(entry));
    EXPECT_EQ(EntryDeviceIndex(entry), 42u);

    inquiry.bytes[10] = 0;
    inquiry.bytes[16] = 0;
    EXPECT_EQ(std::string(FormatListEntry(3, path, inquiry).c_str()), "03:HA#07 TID#09 \xFF\xFF  ");
    EXPECT_FALSE(IsDeviceEntry(FormatListEntry(123, path, inquiry)));
    EXPECT_EQ(EntryDeviceIndex(CString("7x:HA")), 7u);
    EXPECT_FALSE(IsDeviceEntry(CString("")));
}

} // namespace
} // namespace program::test

// The report of a failed library call and its sense display.
#include "app/FirmwareApp.h"
#include "scsi/TapeError.h"
#include "tests/program/Harness.h"

namespace program::test {
namespace {

SENSE_DATA Sense(std::initializer_list<std::uint8_t> bytes) {
    SENSE_DATA sense{};
    std::size_t i = 0;
    for (std::uint8_t b : bytes)
        sense.bytes[i++] = b;
    return sense;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find('\n', start);
        lines.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return lines;
        start = end + 1;
    }
}

TEST(SenseText, IllegalRequestExampleShowsEveryFieldDecoded) {
    const auto text = FormatSenseText(Sense({0x70, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00,
                                             0x00, 0x00, 0x00, 0x24, 0x00, 0x00}));
    EXPECT_EQ(std::string(text.c_str()), "Error Code: \t\t70h\n"
                                         "Valid:\t\t\t0h\n"
                                         "Segment Number:\t\t0h\n"
                                         "Sense Key: \t\tIllegal Request\n"
                                         "Incorrect Length Indicator:\t0h\n"
                                         "End Of Medium:\t\t0h\n"
                                         "File Mark:\t\t\t0h\n"
                                         "Information:\t\t\n"
                                         "Additional Length: \t\tah\n"
                                         "Command Specific:\t\t\n"
                                         "Sense Code:\t\t24h\n"
                                         "Sense Code Qualifier:\t0h\n"
                                         "Field Unit Code:\t\t0h");
}

TEST(SenseText, SplitsBitFieldsAndNamesEveryKey) {
    auto lines = Lines(FormatSenseText(Sense({0xF0, 0x12, 0xE3})).c_str());
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "Error Code: \t\t70h");
    EXPECT_EQ(lines[1], "Valid:\t\t\t1h");
    EXPECT_EQ(lines[2], "Segment Number:\t\t12h");
    EXPECT_EQ(lines[3], "Sense Key: \t\tMedium Error");
    EXPECT_EQ(lines[4], "Incorrect Length Indicator:\t1h");
    EXPECT_EQ(lines[5], "End Of Medium:\t\t1h");
    EXPECT_EQ(lines[6], "File Mark:\t\t\t1h");

    const char* names[16] = {
        "No Sense Data",  "Recovered Error", "Not Ready",      "Medium Error",
        "Hardware Error", "Illegal Request", "Unit Attention", "Data Protect",
        "Blank Check",    "Vendor Specific", "Copy Aborted",   "Command Aborted",
        "Equal",          "Volume Overflow", "Miscompare",     "Reserved"};
    for (std::uint8_t key = 0; key < 16; ++key) {
        // Bit 4 is not shown and must not disturb the key.
        lines = Lines(
            FormatSenseText(Sense({0x70, 0x00, static_cast<std::uint8_t>(0x10 | key)})).c_str());
        EXPECT_EQ(lines[3], std::string("Sense Key: \t\t") + names[key]);
    }
}

TEST(SenseText, TextFieldsStopAtFourCharactersOrAZeroByte) {
    // Information and command-specific bytes all non-zero, with printable neighbours that
    // must never be shown.
    auto lines = Lines(FormatSenseText(Sense({0x70, 0x00, 0x00, 'A', 'B', 'C', 'D', 'E', 'W', 'X',
                                              'Y', 'Z', 'Q', 'R', 'S'}))
                           .c_str());
    EXPECT_EQ(lines[7], "Information:\t\tABCD");
    EXPECT_EQ(lines[8], "Additional Length: \t\t45h");
    EXPECT_EQ(lines[9], "Command Specific:\t\tWXYZ");
    lines =
        Lines(FormatSenseText(Sense({0x70, 0x00, 0x00, 'A', 0x00, 'C', 'D', 0x00, 'W', 'X', 0x00}))
                  .c_str());
    EXPECT_EQ(lines[7], "Information:\t\tA");
    EXPECT_EQ(lines[9], "Command Specific:\t\tWX");
}

struct StatusCase {
    UINT status;
    const char* firstLine;
};

class StatusText : public ::testing::TestWithParam<StatusCase> {};

TEST_P(StatusText, FirstBoxNamesTheStatusAndAsksForSense) {
    ProgramRun run(Devices({"{}"}));
    run.Agree();
    run.InMain([](Headless&) { ReportTapeError(nullptr, GetParam().status, theApp.m_nDeviceId); });
    run.Done();
    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, std::string(GetParam().firstLine) + "\nRead Sense Data ?");
    EXPECT_EQ(boxes[0].caption, "Tape Control Error");
    EXPECT_EQ(boxes[0].type, 0x34u);
    EXPECT_EQ(boxes[0].ownerDialogId, 0);
    EXPECT_TRUE(run.TraceOf("RequestSense").empty()) << "No touches no device";
}

INSTANTIATE_TEST_SUITE_P(
    ErrorReport, StatusText,
    ::testing::Values(StatusCase{0x3A00, "MEDIUM_NOT_PRESENT"},
                      StatusCase{0x0400, "LOGICAL_UNIT_NOT_READY_CAUSE_NOT_REPORTABLE"},
                      StatusCase{0xAA82, "Error: aa82"}, StatusCase{0x2600, "Error: 2600"},
                      StatusCase{0x10003, "Error: 10003"},
                      StatusCase{0xFFFFFFFFu, "Error: ffffffff"}));

TEST(ErrorReport, YesShowsTheSenseOfTheCurrentDevice) {
    ProgramRun run(
        Devices({R"({"sense":"70 00 05 00 00 00 00 0A 00 00 00 00 24 00 00 00 00 00"})",
                 R"({"sense":"70 00 06 00 00 00 00 0A 00 00 00 00 29 00 00 00 00 00"})"}));
    run.Agree();
    run.InMain([](Headless& ui) {
        // The second drive becomes current; the failing call named another device.
        EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, 1));
        ReportTapeError(ui.Dialog(IDD_DEVICE_DIALOG)->handle, 0x2400, theApp.m_nDeviceId);
    });
    run.ui().Answer("Error: 2400", IDYES);
    run.Done();
    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_EQ(boxes[1].caption, "ZEM Tape Control Sense Data");
    EXPECT_EQ(boxes[1].type, 0x30u);
    EXPECT_EQ(boxes[1].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_NE(boxes[1].text.find("Sense Key: \t\tUnit Attention"), std::string::npos)
        << boxes[1].text;
    EXPECT_NE(boxes[1].text.find("Sense Code:\t\t29h"), std::string::npos);
    EXPECT_EQ(run.TraceOf("RequestSense"), (std::vector<std::string>{"RequestSense 1 -> 0"}));
}

TEST(ErrorReport, AFailedSenseRequestShowsAZeroRecord) {
    ProgramRun run(Devices({R"({"faults":[{"op":"RequestSense","status":"0x10003"}]})"}));
    run.Agree();
    run.InMain([](Headless&) { ReportTapeError(nullptr, 0x10003, theApp.m_nDeviceId); });
    run.ui().Answer("Error: 10003", IDYES);
    run.Done();
    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, std::string(FormatSenseText(SENSE_DATA{}).c_str()));
    const auto lines = Lines(boxes[1].text);
    EXPECT_EQ(lines[0], "Error Code: \t\t0h");
    EXPECT_EQ(lines[3], "Sense Key: \t\tNo Sense Data");
    EXPECT_EQ(lines[7], "Information:\t\t");
}

TEST(ErrorReport, WithoutOwnerTheMainWindowTakesNoClicksWhileTheBoxesAreUp) {
    ProgramRun run(Devices({"{}"}));
    run.Agree();
    std::vector<bool> enabledDuringBoxes;
    run.ui().OnMessageBox([&](const MessageBoxRecord& box) {
        if (box.caption == "Tape Control Error" || box.caption == "ZEM Tape Control Sense Data") {
            enabledDuringBoxes.push_back(run.ui().Dialog(IDD_DEVICE_DIALOG)->enabled);
        }
    });
    bool enabledAfter = false;
    run.InMain([&](Headless& ui) {
        ReportTapeError(nullptr, 0x3A00, theApp.m_nDeviceId);
        enabledAfter = ui.Dialog(IDD_DEVICE_DIALOG)->enabled;
    });
    run.ui().Answer("MEDIUM_NOT_PRESENT", IDYES);
    run.Done();
    run.Run();

    EXPECT_EQ(enabledDuringBoxes, (std::vector<bool>{false, false}));
    EXPECT_TRUE(enabledAfter);
}

} // namespace
} // namespace program::test

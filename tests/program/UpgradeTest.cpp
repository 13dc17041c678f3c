// The upgrade request, the download worker and the progress window, in virtual time.
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "app/FirmwareApp.h"
#include "res/BuildInfo.h"
#include "res/Texts.h"
#include "tests/program/Harness.h"
#include "zurvax/EmulatedTransport.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/Zurvax.h"

namespace program::test {
namespace {

constexpr char kConfirm[] = "Are you sure you want to upgrade Current Firmware?";
constexpr char kSuccess[] = "Congratulations ! \n\nYour device firmware update is now complete.";
constexpr char kFailure[] = "Error: please check the device and try again.";
constexpr std::size_t kChunk = 8192;

// Queues: agree, press Upgrade and answer the confirmation. The caller queues what follows
// in the main window (at least Done()).
void PressUpgrade(ProgramRun& run, int answer = IDYES) {
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
    run.ui().Answer(kConfirm, answer);
}

std::vector<std::string> WorkerBoxes(ProgramRun& run) {
    std::vector<std::string> texts;
    for (const auto& box : run.Boxes()) {
        if (box.workerThread) {
            texts.push_back(box.text);
            EXPECT_EQ(box.caption, box.text.find("Read Sense Data") != std::string::npos
                                       ? "Tape Control Error"
                                       : "fwupgrade");
            EXPECT_EQ(box.ownerDialogId, 0);
            EXPECT_EQ(box.type,
                      box.text.find("Read Sense Data") != std::string::npos ? 0x34u : 0x30u)
                << box.text;
        }
    }
    return texts;
}

std::vector<std::string> Transfers(ProgramRun& run) {
    std::vector<std::string> lines;
    for (const auto& line : run.Trace()) {
        if (line.rfind("WriteBuffer", 0) == 0 || line.rfind("ReadBuffer", 0) == 0)
            lines.push_back(line);
    }
    return lines;
}

std::string Chunk(const char* op, std::size_t offset, std::size_t length,
                  const char* status = "0") {
    std::ostringstream line;
    line << op << " 0 mode=2 id=0 offset=" << offset << " length=" << length << " -> " << status;
    return line.str();
}

const std::string kCommit = "WriteBuffer 0 mode=5 id=0 offset=0 length=0 -> 0";

bool LastUpgradeButtonState(ProgramRun& run) {
    bool enabled = false;
    for (const auto& op : run.ui().Operations()) {
        if (op.what == "EnableWindow" && op.controlId == IDC_UPGRADE)
            enabled = op.value != 0;
    }
    return enabled;
}

std::vector<fw::model::Operation> OpsOf(ProgramRun& run, const std::string& what, int dialogId) {
    std::vector<fw::model::Operation> ops;
    for (const auto& op : run.ui().Operations()) {
        if (op.what == what && op.dialogId == dialogId)
            ops.push_back(op);
    }
    return ops;
}

TEST(Upgrade, ACompleteRunWritesVerifiesCommitsPollsAndRescans) {
    ProgramRun run(Devices({R"({"host_adapter":1,"target":5})"}));
    const auto image = SampleImage(2 * kChunk + 3616);
    run.WriteImage(image);
    run.WriteFile("dl.avi", std::string("RIFF\x10\0\0\0AVI LIST", 16));
    PressUpgrade(run);
    std::string revisionAfter;
    run.InMain([&](Headless& ui) {
        revisionAfter = ui.Control(IDD_DEVICE_DIALOG, IDC_REVISION)->text;
        EXPECT_FALSE(ui.Control(IDD_DEVICE_DIALOG, IDC_UPGRADE)->enabled);
    });
    run.Done();
    run.Run();

    EXPECT_EQ(Transfers(run),
              (std::vector<std::string>{
                  Chunk("WriteBuffer", 0, kChunk), Chunk("ReadBuffer", 0, kChunk),
                  Chunk("WriteBuffer", kChunk, kChunk), Chunk("ReadBuffer", kChunk, kChunk),
                  Chunk("WriteBuffer", 2 * kChunk, 3616), Chunk("ReadBuffer", 2 * kChunk, 3616),
                  kCommit}));
    // Readiness of the request, the worker's pre-check, then the poll through activation.
    auto tests = run.TraceOf("TestUnitReady");
    ASSERT_GE(tests.size(), 2u + 2u + 5u);
    EXPECT_EQ(std::vector<std::string>(tests.begin() + 2, tests.begin() + 9),
              (std::vector<std::string>{"TestUnitReady 0 -> 3a00", "TestUnitReady 0 -> 3a00",
                                        "TestUnitReady 0 -> 401", "TestUnitReady 0 -> 401",
                                        "TestUnitReady 0 -> 2900", "TestUnitReady 0 -> 3f01",
                                        "TestUnitReady 0 -> 3a00"}));
    EXPECT_EQ(WorkerBoxes(run), (std::vector<std::string>{kSuccess}));
    const auto drive = zurvax::EmulatedDriveState(0);
    ASSERT_TRUE(drive);
    EXPECT_EQ(drive->lastImage, image);
    EXPECT_EQ(drive->acceptedCommits, 1u);
    EXPECT_EQ(revisionAfter, "0200") << "the rescan reads the new revision";
    EXPECT_EQ(theApp.m_bUpgradeDone, 1);
    EXPECT_FALSE(LastUpgradeButtonState(run)) << "disabled although the rescan qualified the drive";
    EXPECT_EQ(run.kernel().StartedThreadPriorities(), (std::vector<int>{THREAD_PRIORITY_HIGHEST}));
    EXPECT_EQ(OpsOf(run, "CreateDialog", IDD_PROGRESS).size(), 1u);
    const auto clip = OpsOf(run, "ACM_OPEN", IDD_PROGRESS);
    ASSERT_EQ(clip.size(), 1u);
    EXPECT_EQ(clip[0].text, "dl.avi");
    EXPECT_EQ(clip[0].value, 1) << "the clip in the current folder plays";
    EXPECT_EQ(clip[0].extra, 0) << "no module handle";
    const auto warning = OpsOf(run, "SetWindowText", IDD_PROGRESS);
    ASSERT_FALSE(warning.empty());
    EXPECT_EQ(
        warning.back().text,
        "WARNING !!!\r\n\r\nDO NOT INTERRUPT - When downloading firmware\r\nInterruption during "
        "upgrade could cause permanent\r\ndamage to the drive.\r\n");
    EXPECT_TRUE(run.ui().Problems().empty());
}

TEST(Upgrade, ChunksFollowTheImageSize) {
    struct Case {
        std::size_t size;
        std::vector<std::size_t> lengths;
    };
    const Case cases[] = {{2 * kChunk, {kChunk, kChunk}}, {100, {100}}, {kChunk + 1, {kChunk, 1}}};
    for (const Case& c : cases) {
        ProgramRun run(Devices({R"({"check_image":false})"}));
        run.WriteImage(SampleImage(c.size));
        PressUpgrade(run);
        run.Done();
        run.Run();
        std::vector<std::string> expected;
        std::size_t offset = 0;
        for (std::size_t length : c.lengths) {
            expected.push_back(Chunk("WriteBuffer", offset, length));
            expected.push_back(Chunk("ReadBuffer", offset, length));
            offset += length;
        }
        expected.push_back(kCommit);
        EXPECT_EQ(Transfers(run), expected) << "size " << c.size;
        EXPECT_EQ(WorkerBoxes(run), (std::vector<std::string>{kSuccess})) << "size " << c.size;
    }
}

// The poll after the commit: TestUnitReady calls 1-2 are the selection's, 3 the request's,
// 4 the pre-check's; the poll starts at call 5.
struct PollCase {
    const char* name;
    const char* faults;
    std::size_t pollCalls;
    bool success;
};

class Poll : public ::testing::TestWithParam<PollCase> {};

TEST_P(Poll, WaitsTwoSecondsBetweenTestsForAtMost150Retries) {
    const auto& c = GetParam();
    ProgramRun run(Devices({std::string(R"({"check_image":false,"faults":)") + c.faults + "}"}));
    run.WriteImage(SampleImage(100));
    PressUpgrade(run);
    run.Done();
    run.Run();

    const auto tests = run.TraceOf("TestUnitReady");
    EXPECT_EQ(tests.size(), 4u + c.pollCalls + 2u) << "and two for the rescan's selection";
    EXPECT_EQ(WorkerBoxes(run), (std::vector<std::string>{c.success ? kSuccess : kFailure}));
    EXPECT_EQ(theApp.m_bUpgradeDone, c.success ? 1 : 0);
    // The outcome is shown after: the selection's 500 ms, the settling second, the sleeps
    // of the poll and the two-second pulse.
    const auto boxes = run.Boxes();
    EXPECT_EQ(boxes.back().time, 500u + 1000u + 2000u * (c.pollCalls - 1) + 2000u);
}

INSTANTIATE_TEST_SUITE_P(
    Worker, Poll,
    ::testing::Values(
        PollCase{"ReadyAtOnce", R"([{"op":"TestUnitReady","from":5,"count":0,"status":"0x0"}])", 1,
                 true},
        PollCase{"ReadyOnThe150thRetry",
                 R"([{"op":"TestUnitReady","from":5,"count":150,"status":"0x0401"},
                     {"op":"TestUnitReady","from":155,"count":0,"status":"0x0"}])",
                 151, true},
        PollCase{"NeverReady", R"([{"op":"TestUnitReady","from":5,"count":0,"status":"0x0401"}])",
                 151, false},
        PollCase{"NoTapePasses", R"([{"op":"TestUnitReady","from":5,"count":0,"status":"0x3A00"}])",
                 1, true}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Upgrade, AReadBackMismatchAbortsWithoutCommitButStillPolls) {
    ProgramRun run(Devices({R"({"faults":[{"op":"ReadBuffer","from":2,"corrupt":true}]})"}));
    run.WriteImage(SampleImage(3 * kChunk));
    PressUpgrade(run);
    run.Done();
    run.Run();

    const auto transfers = Transfers(run);
    ASSERT_EQ(transfers.size(), 4u);
    EXPECT_EQ(std::count(transfers.begin(), transfers.end(), kCommit), 0);
    EXPECT_EQ(WorkerBoxes(run),
              (std::vector<std::string>{"Error: ReadBuffer not equal to WriteBuffer", kFailure}));
    EXPECT_EQ(theApp.m_bUpgradeDone, 0);
    EXPECT_TRUE(LastUpgradeButtonState(run)) << "the rescan qualifies the drive again";
}

TEST(Upgrade, FailedChunkCommandsAreReportedAndAbort) {
    for (const char* op : {"WriteBuffer", "ReadBuffer"}) {
        ProgramRun run(Devices(
            {std::string(R"({"faults":[{"op":")") + op + R"(","from":2,"status":"0x10003"}]})"}));
        run.WriteImage(SampleImage(3 * kChunk));
        PressUpgrade(run);
        run.Done();
        run.Run();
        const auto transfers = Transfers(run);
        EXPECT_EQ(std::count(transfers.begin(), transfers.end(), kCommit), 0) << op;
        EXPECT_EQ(WorkerBoxes(run),
                  (std::vector<std::string>{"Error: 10003\nRead Sense Data ?", kFailure}))
            << op;
    }
}

TEST(Upgrade, APreCheckFailureIsReportedThenTheDriveIsPolled) {
    ProgramRun run(Devices({R"({"faults":[{"op":"TestUnitReady","from":4,"status":"0x10003"}]})"}));
    run.WriteImage(SampleImage(100));
    PressUpgrade(run);
    run.Done();
    run.Run();
    EXPECT_TRUE(Transfers(run).empty());
    EXPECT_EQ(WorkerBoxes(run),
              (std::vector<std::string>{"Error: 10003\nRead Sense Data ?", kFailure}));
    EXPECT_EQ(run.TraceOf("TestUnitReady").size(), 4u + 1u + 2u);
}

TEST(Upgrade, ARejectedImageIsNeverCalledASuccess) {
    ProgramRun run(Devices({"{}"}));
    auto image = SampleImage(kChunk + 10);
    image[0] = 'X';
    run.WriteImage(image);
    PressUpgrade(run);
    run.Done();
    run.Run();

    EXPECT_EQ(run.TraceOf("WriteBuffer 0 mode=5"),
              (std::vector<std::string>{"WriteBuffer 0 mode=5 id=0 offset=0 length=0 -> 2600"}));
    EXPECT_EQ(WorkerBoxes(run),
              (std::vector<std::string>{"Error: 2600\nRead Sense Data ?", kFailure}));
    EXPECT_EQ(theApp.m_bUpgradeDone, 0);
    EXPECT_EQ(zurvax::EmulatedDriveState(0)->revision, "0100");
}

TEST(Upgrade, ACommitAnsweredByAResetOrALostDeviceLeavesTheVerdictToThePoll) {
    for (const char* status : {"0x2900", "0x3F01", "0x10003", "0x10001"}) {
        ProgramRun run(Devices(
            {std::string(
                 R"({"check_image":false,"faults":[{"op":"WriteBuffer","mode":5,"status":")") +
             status + R"("}]})"}));
        run.WriteImage(SampleImage(100));
        PressUpgrade(run);
        run.Done();
        run.Run();
        EXPECT_EQ(WorkerBoxes(run), (std::vector<std::string>{kSuccess})) << status;
    }
}

// Images past what a 24-bit offset can reach are refused at the first chunk beyond it, and
// never committed: one just over 16 MiB, and one of 4 GiB and 100 bytes (sparse, so nothing
// is written) that cut to 32 bits would look like a 100-byte image, sent and committed whole.
TEST(Upgrade, AnImageTooLargeForTheCommandIsRefusedBeforeAnyWrappedOffset) {
    struct Case {
        const char* name;
        std::uintmax_t size;
        const char* lastTransfer;
    };
    const Case cases[] = {
        {"16 MiB and 100 bytes", 16 * 1024 * 1024 + 100,
         "WriteBuffer 0 mode=2 id=0 offset=16777216 length=100 -> 10007"},
        {"4 GiB and 100 bytes", (std::uintmax_t{1} << 32) + 100,
         "WriteBuffer 0 mode=2 id=0 offset=16777216 length=8192 -> 10007"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramRun run(Devices({R"({"check_image":false})"}));
        run.WriteImage(SampleImage(100));
        std::filesystem::resize_file(run.folder() / "kmr47000_0200.gbf", c.size);
        PressUpgrade(run);
        run.Done();
        run.Run();
        const auto transfers = Transfers(run);
        ASSERT_FALSE(transfers.empty());
        EXPECT_EQ(transfers.back(), c.lastTransfer);
        EXPECT_EQ(std::count(transfers.begin(), transfers.end(), kCommit), 0);
        EXPECT_EQ(WorkerBoxes(run).back(), kFailure);
    }
}

// Truncates the image file when the first chunk is written, as a failing or shrinking
// file would look to the worker.
class ShrinkingImage final : public zurvax::Transport {
public:
    ShrinkingImage(zurvax::EmulationConfig config, std::filesystem::path image)
        : m_drives(std::move(config)), m_image(std::move(image)) {}
    std::uint32_t deviceCount() const override { return m_drives.deviceCount(); }
    zurvax::DevicePath devicePath(std::uint32_t index) const override {
        return m_drives.devicePath(index);
    }
    std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t index) const override {
        return m_drives.enumeratedDeviceType(index);
    }
    zurvax::ScsiResult execute(std::uint32_t index, const zurvax::ScsiCommand& command) override {
        if (command.cdb()[0] == 0x3B && !m_shrunk) {
            m_shrunk = true;
            std::filesystem::resize_file(m_image, 10000);
        }
        return m_drives.execute(index, command);
    }
    std::string describe() const override { return "shrinking image"; }

private:
    zurvax::EmulatedTransport m_drives;
    std::filesystem::path m_image;
    bool m_shrunk = false;
};

#ifndef _WIN32
// Only where the open keeps writers out by advice alone can the file change under the worker.
TEST(Upgrade, AnImageThatCannotBeReadWholeAbortsAndSendsNothingItDidNotRead) {
    ProgramRun run(Devices({"{}"}));
    run.WriteImage(SampleImage(3 * kChunk));
    auto config = zurvax::ParseEmulation(R"({"devices":[{"check_image":false}]})", "test");
    zurvax::UseTransport(std::make_unique<ShrinkingImage>(std::get<zurvax::EmulationConfig>(config),
                                                          run.folder() / "kmr47000_0200.gbf"));
    PressUpgrade(run);
    run.Done();
    run.Run();
    EXPECT_EQ(Transfers(run), (std::vector<std::string>{Chunk("WriteBuffer", 0, kChunk),
                                                        Chunk("ReadBuffer", 0, kChunk)}));
    EXPECT_EQ(WorkerBoxes(run),
              (std::vector<std::string>{"ERROR: Firmware file could not be read !!!", kFailure}));
}
#endif

TEST(Upgrade, AMissingImageSendsNoDeviceCommandAndLeavesTheEventSignalled) {
    ProgramRun run(Devices({"{}"}));
    PressUpgrade(run);
    run.Done();
    run.Run();

    EXPECT_EQ(WorkerBoxes(run),
              (std::vector<std::string>{"ERROR: Firmware file could not be opened !!!"}));
    // The request's readiness test, then no command to the drive until the rescan (claiming
    // it holds the system's tape node and sends the drive nothing).
    std::vector<std::string> trace;
    for (const auto& line : run.Trace()) {
        if (line.rfind("ClaimDevice", 0) != 0 && line.rfind("ReleaseDevice", 0) != 0)
            trace.push_back(line);
    }
    int tests = 0;
    auto request = trace.begin();
    while (request != trace.end() && (request->rfind("TestUnitReady", 0) != 0 || ++tests < 3))
        ++request;
    ASSERT_LT(request + 1, trace.end());
    EXPECT_EQ(*(request + 1), "GetDeviceType 0 -> 1") << "the rescan follows directly";
    EXPECT_EQ(fw::WaitForSingleObject(theApp.m_hUpgradeEvent, 0),
              static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(OpsOf(run, "EndDialog", IDD_PROGRESS).size(), 1u);
}

TEST(Upgrade, ASecondRequestAfterAFailedOpenStartsWithTheEventReset) {
    ProgramRun run(Devices({"{}"}));
    PressUpgrade(run);
    run.InMain([&](Headless& ui) {
        run.WriteImage(SampleImage(kChunk + 5));
        EXPECT_TRUE(ui.Click(IDC_UPGRADE));
    });
    run.ui().Answer(kConfirm, IDYES);
    run.Done();
    run.Run();
    EXPECT_EQ(WorkerBoxes(run),
              (std::vector<std::string>{"ERROR: Firmware file could not be opened !!!", kSuccess}));
    EXPECT_EQ(run.TraceOf("WriteBuffer 0 mode=5").size(), 1u);
}

TEST(Upgrade, TheRevisionGateAndTheConfirmationStopTheRequestQuietly) {
    ProgramRun run(Devices({R"({"revision":"0100"})"}));
    run.WriteImage(SampleImage(100));
    run.SetRegistry("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\QUORVEL]\r\n\"Revision\"=\"1000\"\r\n");
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
    run.InMain([&](Headless& ui) {
        run.SetRegistry("");
        EXPECT_TRUE(ui.Click(IDC_UPGRADE));
    });
    run.ui().Answer(kConfirm, IDNO);
    run.Done();
    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Device is NOT Supported");
    EXPECT_EQ(boxes[0].caption, "fwupgrade");
    EXPECT_EQ(boxes[0].type, 0u);
    EXPECT_EQ(boxes[0].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_EQ(
        boxes[1].text,
        "C A U T I O N ! ! !\n\nLoss of power during a firmware download operation\ncould cause "
        "PERMANENT DAMAGE to the device.\n\nIt is strongly recommended that you CLOSE all "
        "programs\nyou have running before continue.\n\nAre you sure you want to upgrade Current "
        "Firmware?");
    EXPECT_EQ(boxes[1].caption, "VORN - Tape Firmware Upgrade");
    EXPECT_EQ(boxes[1].type, 0x34u);
    EXPECT_EQ(boxes[1].ownerDialogId, IDD_DEVICE_DIALOG);
    EXPECT_TRUE(run.kernel().StartedThreadPriorities().empty());
    EXPECT_TRUE(OpsOf(run, "CreateDialog", IDD_PROGRESS).empty());
    EXPECT_EQ(OpsOf(run, "LB_RESETCONTENT", IDD_DEVICE_DIALOG).size(), 1u) << "no rescan";
    EXPECT_TRUE(Transfers(run).empty());
}

struct GateCase {
    const char* name;
    const char* value;    // the .reg value text after '=', or nullptr for no file
    const char* revision; // the drive's, as hex of the four INQUIRY bytes
    bool passes;
};

class RevisionGate : public ::testing::TestWithParam<GateCase> {};

TEST_P(RevisionGate, ComparesFirstCharactersWithoutRegardToCase) {
    const auto& c = GetParam();
    std::string inquiry = "01 00 02 02 1F 00 00 00 56 4F 52 4E 20 20 20 20 4B 4D 52 2D 34 37 30 30 "
                          "30 20 20 20 20 20 20 20 ";
    inquiry += c.revision;
    ProgramRun run(Devices({std::string(R"({"inquiry":")") + inquiry + "\"}"}));
    if (c.value != nullptr) {
        run.SetRegistry(
            std::string("REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\QUORVEL]\r\n\"Revision\"=") + c.value +
            "\r\n");
    }
    run.Agree();
    run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
    run.ui().Answer(kConfirm, IDNO);
    run.Done();
    run.Run();
    const auto texts = run.BoxTexts();
    const bool refused =
        std::find(texts.begin(), texts.end(), "Device is NOT Supported") != texts.end();
    EXPECT_EQ(!refused, c.passes) << c.value;
    EXPECT_EQ(refused, run.Boxes().back().text == "Device is NOT Supported");
}

INSTANTIATE_TEST_SUITE_P(
    Request, RevisionGate,
    ::testing::Values(GateCase{"DefaultPassesZero", nullptr, "30 31 30 30", true},
                      GateCase{"DefaultRefusesBlank", nullptr, "20 20 20 20", false},
                      GateCase{"DigitOneRefusesZero", R"("1000")", "30 31 30 30", false},
                      GateCase{"DigitOnePassesOne", R"("1000")", "31 30 30 30", true},
                      GateCase{"DigitOnePassesTwo", R"("1")", "32 30 30 30", true},
                      GateCase{"DigitOnePassesLetter", R"("1")", "41 31 30 30", true},
                      GateCase{"LetterRefusesDigits", R"("A")", "39 39 39 39", false},
                      GateCase{"LowerCaseValue", R"("b")", "42 30 30 30", true},
                      GateCase{"LowerCaseValueRefuses", R"("b")", "41 39 39 39", false},
                      GateCase{"LowerCaseDrive", R"("B")", "62 30 30 30", true},
                      GateCase{"EmptyValuePassesAll", R"("")", "00 00 00 00", true},
                      GateCase{"EmptyDriveRevisionFails", R"("0")", "00 00 00 00", false},
                      GateCase{"MissingValueUsesDefault", R"(-)", "30 31 30 30", true},
                      GateCase{"MissingValueRefusesBlank", R"(-)", "20 20 20 20", false},
                      GateCase{"TooLargeUsesDefault", R"("9ABCDEFGHIJ")", "30 31 30 30", true},
                      GateCase{"ElevenBytesWithoutZero", "hex:39,39,39,39,39,39,39,39,39,39,39",
                               "30 31 30 30", false},
                      GateCase{"TypeNotLookedAt", "dword:00000031", "30 31 30 30", false}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Upgrade, AReadinessFailureBeforeTheRequestStopsItAfterTheReport) {
    ProgramRun run(Devices({R"({"faults":[{"op":"TestUnitReady","from":3,"status":"0x10003"}]})"}));
    run.WriteImage(SampleImage(100));
    PressUpgrade(run);
    run.ui().Answer("Error: 10003", IDNO);
    // The confirmation answer is never asked for.
    run.Done();
    run.Run();
    const auto boxes = run.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].ownerDialogId, 0);
    EXPECT_TRUE(run.kernel().StartedThreadPriorities().empty());
}

TEST(Upgrade, AWorkerThatCannotStartIsReportedAndNoProgressWindowWaitsForIt) {
    ProgramRun run(Devices({"{}"}));
    run.WriteImage(SampleImage(100));
    run.kernel().FailThreadStart(true);
    PressUpgrade(run);
    run.Done();
    run.Run();
    EXPECT_EQ(run.Boxes().back().text, "ERROR: The firmware download could not be started !!!");
    EXPECT_TRUE(OpsOf(run, "CreateDialog", IDD_PROGRESS).empty());
    EXPECT_TRUE(Transfers(run).empty());
}

TEST(Progress, BarCyclesOneToHundredThenZeroAndClosesWithinATickOfTheSignal) {
    ProgramRun run(Devices(
        {R"({"check_image":false,"faults":[{"op":"TestUnitReady","from":5,"count":0,"status":"0x0401"}]})"}));
    run.WriteImage(SampleImage(100));
    PressUpgrade(run);
    run.ui().Answer("Error: 401", IDNO); // the rescan finds the drive still not ready
    run.Done();
    run.Run();

    const auto positions = OpsOf(run, "PBM_SETPOS", IDD_PROGRESS);
    ASSERT_GT(positions.size(), 102u);
    for (std::size_t tick = 1; tick <= 102; ++tick) {
        const std::int64_t expected =
            tick <= 100 ? static_cast<std::int64_t>(tick) : static_cast<std::int64_t>(tick - 101);
        ASSERT_EQ(positions[tick - 1].value, expected) << "tick " << tick;
        if (tick > 1) {
            ASSERT_EQ(positions[tick - 1].time - positions[tick - 2].time, 100u) << "tick " << tick;
        }
    }
    const auto timers = OpsOf(run, "SetTimer", IDD_PROGRESS);
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_EQ(timers[0].value, 1) << "timer 1";
    EXPECT_EQ(timers[0].extra, 100) << "every 100 ms";
    // The worker signals 2000 ms before its last message; the window must be gone within
    // one tick of that, and only once.
    const auto ended = OpsOf(run, "EndDialog", IDD_PROGRESS);
    ASSERT_EQ(ended.size(), 1u);
    const std::uint64_t signalled = run.Boxes().back().time - 2000;
    EXPECT_GE(ended[0].time, signalled);
    EXPECT_LE(ended[0].time, signalled + 100);
    EXPECT_EQ(run.ui().Problems(), std::vector<std::string>{});
}

TEST(Progress, EnterEscapeAndAMissingClipLeaveItRunning) {
    ProgramRun run(Devices({R"({"check_image":false})"}));
    run.WriteImage(SampleImage(100));
    PressUpgrade(run);
    bool stillOpen = false;
    run.ui().Then(IDD_PROGRESS, [](Headless& ui) {
        EXPECT_TRUE(ui.PressEnter());
        EXPECT_TRUE(ui.PressEscape());
        EXPECT_FALSE(ui.PressCloseBox()) << "no close box";
    });
    run.ui().Then(IDD_PROGRESS,
                  [&](Headless& ui) { stillOpen = ui.Dialog(IDD_PROGRESS) != nullptr; });
    run.Done();
    run.Run();
    EXPECT_TRUE(stillOpen);
    const auto clip = OpsOf(run, "ACM_OPEN", IDD_PROGRESS);
    ASSERT_EQ(clip.size(), 1u);
    EXPECT_EQ(clip[0].value, 0);
#ifdef _WIN32
    EXPECT_EQ(clip[0].text, res::kAnimationName) << "Windows looks in the working folder only";
#else
    EXPECT_EQ(clip[0].text, std::string(FWUPGRADE_DATADIR "/") + res::kAnimationName)
        << "missing from the working folder, the clip is looked for where the package puts it";
#endif
    EXPECT_EQ(WorkerBoxes(run), (std::vector<std::string>{kSuccess}));
    EXPECT_TRUE(run.ui().Problems().empty());
}

TEST(Progress, ASignalLeftFromAnEarlierRunDoesNotCloseItAtOnce) {
    ProgramRun run(Devices({R"({"check_image":false})"}));
    run.WriteImage(SampleImage(100));
    run.Agree();
    run.InMain([](Headless& ui) {
        fw::SetEvent(theApp.m_hUpgradeEvent);
        EXPECT_TRUE(ui.Click(IDC_UPGRADE));
    });
    run.ui().Answer(kConfirm, IDYES);
    run.Done();
    run.Run();
    EXPECT_GT(OpsOf(run, "PBM_SETPOS", IDD_PROGRESS).size(), 10u);
    EXPECT_EQ(WorkerBoxes(run), (std::vector<std::string>{kSuccess}));
}

} // namespace
} // namespace program::test

// Whole program runs fed what a faulty or hostile drive could send: inquiry texts with
// control characters, without any zero byte, all FFh; sense records of every value;
// transfers shorter or longer than asked. Under AddressSanitizer (preset linux-asan) a
// read or write past any record or buffer fails these tests.
#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/FirmwareApp.h"
#include "scsi/TapeError.h"
#include "tests/program/Harness.h"
#include "zurvax/Cdb.h"
#include "zurvax/EmulatedTransport.h"
#include "zurvax/EmulationConfig.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxStatus.h"

namespace program::test {
namespace {

constexpr char kFailure[] = "Error: please check the device and try again.";
constexpr char kConfirm[] = "Are you sure you want to upgrade Current Firmware?";
constexpr std::size_t kChunk = 8192;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const auto b : bytes) {
        if (!text.empty())
            text.push_back(' ');
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0F]);
    }
    return text;
}

// Standard inquiry bytes with the three texts given as they are, no padding added.
std::vector<std::uint8_t> Inquiry(std::uint8_t byte0, const std::string& vendor,
                                  const std::string& product, const std::string& revision) {
    std::vector<std::uint8_t> bytes(36, 0);
    bytes[0] = byte0;
    bytes[4] = 31;
    std::copy_n(vendor.begin(), std::min<std::size_t>(vendor.size(), 8), bytes.begin() + 8);
    std::copy_n(product.begin(), std::min<std::size_t>(product.size(), 16), bytes.begin() + 16);
    std::copy_n(revision.begin(), std::min<std::size_t>(revision.size(), 4), bytes.begin() + 32);
    return bytes;
}

std::string DeviceWithInquiry(const std::vector<std::uint8_t>& inquiry) {
    return R"({"medium":true,"inquiry":")" + Hex(inquiry) + R"("})";
}

std::string Text(Headless& ui, int id) { return ui.Control(IDD_DEVICE_DIALOG, id)->text; }

// How a double changes the drive's answer to one opcode.
struct Answer {
    // Bytes the device sends instead, possibly more than the command's buffer holds: the
    // buffer gets what fits and the residual goes negative, as SG_IO reports an overrun.
    std::optional<std::vector<std::uint8_t>> data;
    std::optional<std::uint8_t> status;
    std::optional<std::vector<std::uint8_t>> sense;
};

// Emulated drives whose answers the test rewrites per opcode.
class Distorting final : public zurvax::Transport {
public:
    Distorting(const std::string& emulationJson, std::map<std::uint8_t, Answer> answers)
        : m_drives(
              std::get<zurvax::EmulationConfig>(zurvax::ParseEmulation(emulationJson, "test"))),
          m_answers(std::move(answers)) {}
    std::uint32_t deviceCount() const override { return m_drives.deviceCount(); }
    zurvax::DevicePath devicePath(std::uint32_t index) const override {
        return m_drives.devicePath(index);
    }
    std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t index) const override {
        return m_drives.enumeratedDeviceType(index);
    }
    zurvax::ScsiResult execute(std::uint32_t index, const zurvax::ScsiCommand& command) override {
        zurvax::ScsiResult result = m_drives.execute(index, command);
        const auto found = m_answers.find(command.cdb()[0]);
        if (found == m_answers.end())
            return result;
        const Answer& answer = found->second;
        if (answer.data) {
            const auto buffer = command.dataIn();
            const std::size_t fits = std::min(buffer.size(), answer.data->size());
            std::copy_n(answer.data->begin(), fits, buffer.begin());
            result.residual = buffer.size() - answer.data->size(); // wraps for an overrun
        }
        if (answer.status)
            result.scsiStatus = *answer.status;
        if (answer.sense)
            result.sense = *answer.sense;
        return result;
    }
    std::string describe() const override { return {}; }

private:
    zurvax::EmulatedTransport m_drives;
    std::map<std::uint8_t, Answer> m_answers;
};

void UseDistorting(const std::string& emulationJson, std::map<std::uint8_t, Answer> answers) {
    zurvax::UseTransport(std::make_unique<Distorting>(emulationJson, std::move(answers)));
}

std::vector<std::string> BoxTexts(ProgramRun& run) {
    std::vector<std::string> texts;
    for (const auto& box : run.Boxes())
        texts.push_back(box.text);
    return texts;
}

bool Shown(ProgramRun& run, const std::string& text) {
    const auto texts = BoxTexts(run);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST(UntrustedInquiry, ControlCharactersAreShownAsSentAndNoFieldRunsIntoTheNext) {
    const std::string vendor = "V\tO\nR\x1b"
                               "N\x7f";
    const std::string product = "KMR-47000\x07\r\x01\x02\x1f\x7f\x08";
    const std::string revision = "\x1b[2J";
    ProgramRun run(Devices({DeviceWithInquiry(Inquiry(0x01, vendor, product, revision))}));
    std::string model;
    std::string shownRevision;
    run.Agree();
    run.InMain([&](Headless& ui) {
        model = Text(ui, IDC_MODEL);
        shownRevision = Text(ui, IDC_REVISION);
    });
    run.Done();
    run.Run();

    EXPECT_EQ(run.ListItems(),
              (std::vector<std::string>{"00:HA#00 TID#00 " + vendor + " " + product + " "}));
    EXPECT_EQ(model, product);
    EXPECT_EQ(shownRevision, revision);
    EXPECT_TRUE(BoxTexts(run).empty());
}

TEST(UntrustedInquiry, TextsWithoutAnyZeroByteAreCutAtTheirWidths) {
    std::vector<std::uint8_t> inquiry = Inquiry(0x01, "ABCDEFGH", "KMR-47000QRSTUVW", "WXYZ");
    for (std::size_t i = 1; i < 8; ++i)
        inquiry[i] = static_cast<std::uint8_t>(0x80 + i);
    ASSERT_EQ(std::count(inquiry.begin(), inquiry.end(), 0), 0);
    ProgramRun run(Devices({DeviceWithInquiry(inquiry)}));
    std::string model;
    std::string revision;
    run.Agree();
    run.InMain([&](Headless& ui) {
        model = Text(ui, IDC_MODEL);
        revision = Text(ui, IDC_REVISION);
    });
    run.Done();
    run.Run();

    EXPECT_EQ(run.ListItems(),
              (std::vector<std::string>{"00:HA#00 TID#00 ABCDEFGH KMR-47000QRSTUVW "}));
    EXPECT_EQ(model, "KMR-47000QRSTUVW");
    EXPECT_EQ(revision, "WXYZ");
}

TEST(UntrustedInquiry, AllFFhEndsTheScanAndChoosingItAnywayIsRefused) {
    const std::vector<std::uint8_t> ff(36, 0xFF);
    ProgramRun run(Devices({DeviceWithInquiry(ff)}));
    std::string revision;
    run.Agree();
    run.InMain([&](Headless& ui) {
        HWND list = ui.Control(IDD_DEVICE_DIALOG, IDC_DEVICE_LIST)->handle;
        const char entry[] = "00:HA#00 TID#00 chosen anyway";
        const auto at = ui.SendMessage(list, LB_INSERTSTRING, static_cast<WPARAM>(-1),
                                       reinterpret_cast<LPARAM>(entry));
        EXPECT_TRUE(ui.SelectItem(IDC_DEVICE_LIST, static_cast<int>(at)));
        revision = Text(ui, IDC_REVISION);
    });
    run.Done();
    run.Run();

    const auto texts = BoxTexts(run);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "No supported Vorn tape devices found !!!");
    EXPECT_EQ(texts[1],
              "The Device may not be a tape drive or\nit may be the incorrect tape dirve model.\n");
    EXPECT_EQ(revision, std::string(4, '\xFF'));
}

// The record REQUEST SENSE must leave for count bytes of value from the device.
std::vector<std::uint8_t> ExpectedRecord(std::uint8_t value, std::size_t count) {
    std::vector<std::uint8_t> record(15, 0);
    if (count < 8)
        return record;
    const std::uint8_t code = value & 0x7F;
    if (code == 0x72 || code == 0x73) {
        record[0] = code == 0x72 ? 0x70 : 0x71;
        record[2] = value & 0x0F;
        record[7] = 10;
        record[12] = value;
        record[13] = value;
    } else {
        std::fill_n(record.begin(), std::min<std::size_t>(count, 15), value);
    }
    return record;
}

TEST(UntrustedSense, EveryByteValueAtEveryLengthFillsTheRecordAndTheDisplayWithinBounds) {
    for (int value = 0; value < 256; ++value) {
        for (const std::size_t count :
             {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{14},
              std::size_t{15}, std::size_t{18}, std::size_t{19}, std::size_t{252}}) {
            const auto byte = static_cast<std::uint8_t>(value);
            UseDistorting(Devices({"{}"}),
                          {{zurvax::kOpRequestSense,
                            Answer{std::vector<std::uint8_t>(count, byte), {}, {}}}});
            const auto sense = std::make_unique<SENSE_DATA>();
            *sense = SENSE_DATA{};
            const std::uint32_t status = RequestSense(0, sense.get());
            // Fewer than eight bytes, or more than asked for, is no sense record.
            const bool usable = count >= 8 && count <= 18;
            EXPECT_EQ(status, usable ? 0u : std::uint32_t{ZURVAX_STATUS_SHORT_TRANSFER})
                << value << " " << count;
            const std::vector<std::uint8_t> record(sense->bytes, sense->bytes + 15);
            EXPECT_EQ(record, ExpectedRecord(byte, usable ? count : 0)) << value << " " << count;

            const std::string text = FormatSenseText(*sense).c_str();
            const std::size_t lines =
                1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
            // A line break the device put into Information or Command Specific is shown as sent.
            std::size_t breaks = 0;
            for (const std::size_t field : {std::size_t{3}, std::size_t{8}}) {
                for (std::size_t i = field; i < field + 4 && record[i] != 0; ++i)
                    breaks += record[i] == '\n';
            }
            EXPECT_EQ(lines, 13u + breaks) << value << " " << count;
            if (usable && byte >= 0x20 && byte != 0x72 && byte != 0x73 && byte != 0xF2 &&
                byte != 0xF3) {
                EXPECT_NE(
                    text.find("Information:\t\t" + std::string(4, static_cast<char>(byte)) + "\n"),
                    std::string::npos)
                    << value;
            }
        }
    }
    zurvax::Reset();
}

TEST(UntrustedSense, TheReportShowsWhatALongOddSenseRecordBegins) {
    ProgramRun run(Devices({"{}"}));
    std::vector<std::uint8_t> sense(18, 0xFF);
    sense[0] = 0x70;
    sense[3] = '%';
    sense[4] = 's';
    sense[5] = '%';
    sense[6] = 'n';
    UseDistorting(Devices({"{}"}), {{zurvax::kOpRequestSense, Answer{sense, {}, {}}},
                                    {zurvax::kOpTestUnitReady, Answer{{}, zurvax::kScsiBusy, {}}}});
    run.Agree();
    run.ui().Answer("Error: 10004", IDYES);
    run.Done();
    run.Run();

    const auto boxes = run.Boxes();
    ASSERT_GE(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Error: 10004\nRead Sense Data ?");
    EXPECT_NE(boxes[1].text.find("Information:\t\t%s%n\n"), std::string::npos) << boxes[1].text;
    EXPECT_NE(boxes[1].text.find("Command Specific:\t\t\xFF\xFF\xFF\xFF\n"), std::string::npos);
}

TEST(UntrustedTransfer, AShortOrOverlongInquiryIsAFailureAndLeavesTheRecordZero) {
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{10}, std::size_t{35}, std::size_t{37}, std::size_t{4096}}) {
        ProgramRun run(Devices({"{}"}));
        auto data = Inquiry(0x01, "VORN", "KMR-47000", "0100");
        data.resize(count, 'X');
        UseDistorting(Devices({"{}"}), {{zurvax::kOpInquiry, Answer{data, {}, {}}}});
        run.Agree();
        run.Done();
        run.Run();

        EXPECT_TRUE(Shown(run, "Error: 1000a\nRead Sense Data ?")) << count;
        EXPECT_TRUE(Shown(run, "No supported Vorn tape devices found !!!")) << count;
        EXPECT_TRUE(run.ListItems().empty()) << count;
    }
}

TEST(UntrustedTransfer, AShortOrOverlongReadBackFailsTheUpgradeBeforeTheCommit) {
    for (const std::size_t count :
         {std::size_t{0}, std::size_t{100}, kChunk - 1, kChunk + 1, 3 * kChunk}) {
        ProgramRun run(Devices({"{}"}));
        run.WriteImage(SampleImage(2 * kChunk));
        UseDistorting(
            Devices({R"({"medium":true})"}),
            {{zurvax::kOpReadBuffer, Answer{std::vector<std::uint8_t>(count, 0x4B), {}, {}}}});
        run.Agree();
        run.InMain([](Headless& ui) { EXPECT_TRUE(ui.Click(IDC_UPGRADE)); });
        run.ui().Answer(kConfirm, IDYES);
        run.Done();
        run.Run();

        EXPECT_TRUE(Shown(run, kFailure)) << count;
        EXPECT_TRUE(run.TraceOf("WriteBuffer 0 mode=5").empty()) << count;
    }
}

TEST(UntrustedTransfer, ACheckConditionWithNoLongOrOneByteSenseIsJudgedWithinIt) {
    std::vector<std::uint8_t> longSense(300, 0);
    longSense[0] = 0x70;
    longSense[2] = 0x02;
    longSense[12] = 0x3A;
    const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases = {
        {{}, "Error: 1000c\nRead Sense Data ?"},
        {{0x70}, "Error: 1000c\nRead Sense Data ?"},
        {{0x72, 0x02}, "Error: 1000c\nRead Sense Data ?"},
        {longSense, ""}, // 3A/00: no cartridge, which the selection accepts
    };
    for (const auto& [sense, box] : cases) {
        ProgramRun run(Devices({"{}"}));
        UseDistorting(Devices({R"({"medium":true})"}),
                      {{zurvax::kOpTestUnitReady, Answer{{}, zurvax::kScsiCheckCondition, sense}}});
        run.Agree();
        run.Done();
        run.Run();

        if (box.empty()) {
            EXPECT_TRUE(BoxTexts(run).empty()) << sense.size();
        } else {
            EXPECT_TRUE(Shown(run, box)) << sense.size();
        }
    }
}

} // namespace
} // namespace program::test

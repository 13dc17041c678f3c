// Emulated drives through the C functions: keys and defaults, unit attentions, the data
// buffer, image checking and activation.
#include <array>
#include <numeric>
#include <set>

#include "TestSupport.h"
#include "zurvax/Classify.h"
#include "zurvax/EmulatedDrive.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax::test {
namespace {

std::string Text(const INQUIRY_DATA& data, std::size_t at, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(data.bytes) + at, length);
}

std::vector<std::uint8_t> Image(const std::string& revision, std::size_t size = 4096) {
    std::vector<std::uint8_t> image(size);
    std::iota(image.begin(), image.end(), std::uint8_t{0});
    const std::string head = std::string(kImageMagic) + revision;
    std::copy(head.begin(), head.end(), image.begin());
    return image;
}

class EmulationTest : public LibraryTest {
protected:
    // Writes image in chunks (mode 2) and commits it (mode 5, length 0).
    std::uint32_t download(std::uint32_t index, std::vector<std::uint8_t> image,
                           std::uint32_t chunk = 1024) {
        for (std::uint32_t offset = 0; offset < image.size(); offset += chunk) {
            const auto length =
                std::min<std::uint32_t>(chunk, static_cast<std::uint32_t>(image.size()) - offset);
            if (const auto status = WriteBuffer(index, 2, 0, offset, length, image.data() + offset))
                return status;
        }
        return WriteBuffer(index, 5, 0, 0, 0, nullptr);
    }
};

TEST_F(EmulationTest, DefaultsOfADevice) {
    useEmulation(R"({"devices": [ {}, {} ]})");
    INQUIRY_DATA data{};
    ASSERT_EQ(ReadRawInquiryData(0, &data), 0u);
    EXPECT_EQ(data.bytes[0], 0x01);
    EXPECT_EQ(Text(data, 8, 8), "VORN    ");
    EXPECT_EQ(Text(data, 16, 16), "KMR-47000       ");
    EXPECT_EQ(Text(data, 32, 4), "0100");
    EXPECT_EQ(data.bytes[4], 31);
    for (std::uint32_t index : {0u, 1u}) {
        const SCSI_PATH path = GetScsiPath(index);
        EXPECT_EQ(path.bytes[0], 0);
        EXPECT_EQ(path.bytes[1], 0);
        EXPECT_EQ(path.bytes[2], index);
        EXPECT_EQ(path.bytes[3], 0);
    }
    // Power-on attention once, then no cartridge.
    EXPECT_EQ(TestUnitReady(0), 0x2900u);
    EXPECT_EQ(TestUnitReady(0), static_cast<std::uint32_t>(MEDIUM_NOT_PRESENT));
    EXPECT_EQ(TestUnitReady(0), static_cast<std::uint32_t>(MEDIUM_NOT_PRESENT));
    // REQUEST SENSE tells the last failure, in fixed format.
    SENSE_DATA sense{};
    ASSERT_EQ(RequestSense(0, &sense), 0u);
    EXPECT_EQ(sense.bytes[0], 0x70);
    EXPECT_EQ(sense.bytes[2], 0x02);
    EXPECT_EQ(sense.bytes[7], 10);
    EXPECT_EQ(sense.bytes[12], 0x3A);
    EXPECT_EQ(sense.bytes[13], 0x00);
}

TEST_F(EmulationTest, InquiryKeysAreBlankPaddedIntoTheInquiryData) {
    useEmulation(R"({"devices": [
        {"type": 8, "qualifier": 3, "vendor": "ACME", "product": "LOADER", "revision": "7"},
        {"type": 0, "vendor": "EIGHTCHR", "product": "SIXTEEN-CHARS-XY", "revision": "ABCD"}
    ]})");
    struct Case {
        std::uint32_t index;
        std::uint8_t byte0;
        std::uint8_t type;
        const char* vendor;
        const char* product;
        const char* revision;
    };
    for (const Case c : {Case{0, 0x68, 8, "ACME    ", "LOADER          ", "7   "},
                         Case{1, 0x00, 0, "EIGHTCHR", "SIXTEEN-CHARS-XY", "ABCD"}}) {
        SCOPED_TRACE(c.index);
        INQUIRY_DATA data{};
        ASSERT_EQ(ReadRawInquiryData(c.index, &data), 0u);
        EXPECT_EQ(data.bytes[0], c.byte0);
        EXPECT_EQ(GetDeviceType(c.index), c.type);
        EXPECT_EQ(Text(data, 8, 8), c.vendor);
        EXPECT_EQ(Text(data, 16, 16), c.product);
        EXPECT_EQ(Text(data, 32, 4), c.revision);
    }
}

TEST_F(EmulationTest, RawInquiryOverridesTheTextKeys) {
    std::string hex;
    std::array<std::uint8_t, 36> raw{};
    for (std::size_t i = 0; i < raw.size(); ++i) {
        raw[i] = static_cast<std::uint8_t>(0xA0 + i);
        hex += Hex(raw[i]) + (i % 4 == 3 ? " " : "");
    }
    useEmulation(R"({"devices": [ {"vendor": "IGNORED", "inquiry": ")" + hex + R"("} ]})");
    INQUIRY_DATA data{};
    ASSERT_EQ(ReadRawInquiryData(0, &data), 0u);
    EXPECT_TRUE(std::equal(raw.begin(), raw.end(), data.bytes));
    EXPECT_EQ(GetDeviceType(0), raw[0] & 0x1F);
}

TEST_F(EmulationTest, PathMediumSenseAndAttentionKeys) {
    useEmulation(R"({"devices": [
        {"host_adapter": 3, "target": 9, "lun": 2, "medium": true, "power_on_attention": false,
         "sense": "70 00 06 00 00 00 00 0a 00 00 00 00 2a 01 00 00 00 00"}
    ]})");
    const SCSI_PATH path = GetScsiPath(0);
    EXPECT_EQ(path.bytes[1], 3);
    EXPECT_EQ(path.bytes[2], 9);
    EXPECT_EQ(path.bytes[3], 2);
    EXPECT_EQ(TestUnitReady(0), 0u);
    SENSE_DATA sense{};
    ASSERT_EQ(RequestSense(0, &sense), 0u);
    EXPECT_EQ(sense.bytes[2], 0x06);
    EXPECT_EQ(sense.bytes[12], 0x2A);
    EXPECT_EQ(sense.bytes[13], 0x01);
}

TEST_F(EmulationTest, UnitAttentionWaitsForACommandOtherThanInquiryOrRequestSense) {
    useEmulation(R"({"devices": [ {"medium": true} ]})");
    INQUIRY_DATA data{};
    SENSE_DATA sense{};
    EXPECT_EQ(ReadRawInquiryData(0, &data), 0u);
    EXPECT_EQ(GetDeviceType(0), 1);
    EXPECT_EQ(RequestSense(0, &sense), 0u);
    EXPECT_EQ(sense.bytes[12], 0x00);
    std::uint8_t byte = 0;
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 0, &byte), 0x2900u);
    EXPECT_EQ(TestUnitReady(0), 0u);
}

TEST_F(EmulationTest, SenseOfAFailureIsClearedByTheNextGoodCommand) {
    useEmulation(R"({"devices": [ {"medium": true, "power_on_attention": false} ]})");
    std::uint8_t byte = 1;
    EXPECT_EQ(WriteBuffer(0, 2, 1, 0, 1, &byte), 0x2400u); // buffer ID 1 does not exist
    SENSE_DATA sense{};
    ASSERT_EQ(RequestSense(0, &sense), 0u);
    EXPECT_EQ(sense.bytes[2], 0x05);
    EXPECT_EQ(sense.bytes[12], 0x24);
    EXPECT_EQ(TestUnitReady(0), 0u);
    SENSE_DATA after{};
    ASSERT_EQ(RequestSense(0, &after), 0u);
    EXPECT_EQ(after.bytes[2], 0x00);
    EXPECT_EQ(after.bytes[12], 0x00);
}

TEST_F(EmulationTest, BufferKeepsWritesAtTheirOffsets) {
    useEmulation(R"({"devices": [ {"power_on_attention": false} ]})");
    std::vector<std::uint8_t> first(300, 0x11);
    std::vector<std::uint8_t> second(200, 0x22);
    ASSERT_EQ(WriteBuffer(0, 2, 0, 1000, 300, first.data()), 0u);
    ASSERT_EQ(WriteBuffer(0, 2, 0, 1200, 200, second.data()), 0u);
    std::vector<std::uint8_t> back(400, 0xEE);
    ASSERT_EQ(ReadBuffer(0, 2, 0, 1000, 400, back.data()), 0u);
    EXPECT_TRUE(std::all_of(back.begin(), back.begin() + 200, [](auto b) { return b == 0x11; }));
    EXPECT_TRUE(std::all_of(back.begin() + 200, back.end(), [](auto b) { return b == 0x22; }));
    const auto state = EmulatedDriveState(0);
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->buffer.size(), 1400u);
    EXPECT_EQ(state->buffer[999], 0);
}

TEST_F(EmulationTest, BufferRefusals) {
    useEmulation(R"({"devices": [ {"power_on_attention": false} ]})");
    std::vector<std::uint8_t> data(64, 0x5A);
    ASSERT_EQ(WriteBuffer(0, 2, 0, 0, 64, data.data()), 0u);
    struct Case {
        const char* name;
        std::function<std::uint32_t()> call;
        std::uint32_t expected;
    };
    const std::uint32_t end = static_cast<std::uint32_t>(EmulatedDrive::kBufferCapacity);
    const std::vector<Case> cases = {
        {"write past the capacity", [&] { return WriteBuffer(0, 2, 0, end - 32, 64, data.data()); },
         0x2400},
        {"unknown buffer id", [&] { return WriteBuffer(0, 2, 3, 0, 64, data.data()); }, 0x2400},
        {"unsupported write mode", [&] { return WriteBuffer(0, 7, 0, 0, 64, data.data()); },
         0x2400},
        {"unsupported read mode", [&] { return ReadBuffer(0, 0, 0, 0, 64, data.data()); }, 0x2400},
        {"read past what was written", [&] { return ReadBuffer(0, 2, 0, 32, 64, data.data()); },
         ZURVAX_STATUS_SHORT_TRANSFER},
        {"read where nothing was written",
         [&] { return ReadBuffer(0, 2, 0, 4096, 64, data.data()); }, ZURVAX_STATUS_SHORT_TRANSFER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.expected);
    }
    EXPECT_EQ(EmulatedDriveState(0)->buffer.size(), 64u);
    EXPECT_TRUE(std::all_of(data.begin(), data.end(), [](auto b) { return b == 0x5A; }));
}

TEST_F(EmulationTest, ReadBufferDescriptorTellsTheCapacity) {
    useEmulation(R"({"devices": [ {"power_on_attention": false} ]})");
    std::array<std::uint8_t, 4> descriptor{};
    ASSERT_EQ(ReadBuffer(0, 3, 0, 0, 4, descriptor.data()), 0u);
    const std::uint32_t capacity =
        (std::uint32_t{descriptor[1]} << 16) | (descriptor[2] << 8) | descriptor[3];
    EXPECT_EQ(capacity, std::min<std::size_t>(EmulatedDrive::kBufferCapacity, 0xFFFFFF));
}

class ActivationTest : public EmulationTest, public ::testing::WithParamInterface<int> {};

TEST_P(ActivationTest, NotReadyPollsThenAttentionsThenTheNewRevision) {
    const int polls = GetParam();
    useEmulation(
        R"({"devices": [ {"medium": true, "power_on_attention": false, "activation_polls": )" +
        std::to_string(polls) + "} ]}");
    ASSERT_EQ(download(0, Image("0200")), 0u);
    for (int i = 0; i < polls; ++i) {
        SCOPED_TRACE(i);
        // Still the old firmware while the drive is not ready.
        INQUIRY_DATA during{};
        ASSERT_EQ(ReadRawInquiryData(0, &during), 0u);
        EXPECT_EQ(Text(during, 32, 4), "0100");
        EXPECT_EQ(TestUnitReady(0), 0x0401u);
    }
    EXPECT_EQ(TestUnitReady(0), 0x2900u);
    EXPECT_EQ(TestUnitReady(0), 0x3F01u);
    EXPECT_EQ(TestUnitReady(0), 0u);
    INQUIRY_DATA data{};
    ASSERT_EQ(ReadRawInquiryData(0, &data), 0u);
    EXPECT_EQ(Text(data, 32, 4), "0200");
    const auto state = EmulatedDriveState(0);
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->revision, "0200");
    EXPECT_EQ(state->commits, 1u);
    EXPECT_EQ(state->acceptedCommits, 1u);
    EXPECT_EQ(state->lastImage, Image("0200"));
    EXPECT_FALSE(state->activating);
}

INSTANTIATE_TEST_SUITE_P(Polls, ActivationTest, ::testing::Values(0, 1, 2, 5));

TEST_F(EmulationTest, DefaultActivationTakesTwoPolls) {
    useEmulation(R"({"devices": [ {"medium": true, "power_on_attention": false} ]})");
    ASSERT_EQ(download(0, Image("0150")), 0u);
    std::vector<std::uint32_t> seen;
    for (int i = 0; i < 5; ++i)
        seen.push_back(TestUnitReady(0));
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{0x0401, 0x0401, 0x2900, 0x3F01, 0}));
}

TEST_F(EmulationTest, NeverReadyAgainWithMinusOne) {
    useEmulation(
        R"({"devices": [ {"medium": true, "power_on_attention": false, "activation_polls": -1} ]})");
    ASSERT_EQ(download(0, Image("0200")), 0u);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(TestUnitReady(0), 0x0401u) << i;
    EXPECT_TRUE(EmulatedDriveState(0)->activating);
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0100");
}

TEST_F(EmulationTest, ImageCheckRejectsOtherImagesAndKeepsTheFirmware) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> image;
    };
    std::vector<std::uint8_t> wrongMagic = Image("0200");
    wrongMagic[3] = 'X';
    std::vector<std::uint8_t> tooShort = Image("0200");
    tooShort.resize(kImageMagic.size() + 3);
    std::vector<std::uint8_t> unprintable = Image("0200");
    unprintable[14] = 0x01;
    const std::vector<Case> cases = {
        {"wrong header", wrongMagic},
        {"revision not printable", unprintable},
        {"too short for a revision", tooShort},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        useEmulation(R"({"devices": [ {"medium": true, "power_on_attention": false} ]})");
        EXPECT_EQ(download(0, c.image), 0x2600u);
        EXPECT_EQ(TestUnitReady(0), 0u);
        const auto state = EmulatedDriveState(0);
        EXPECT_EQ(state->revision, "0100");
        EXPECT_EQ(state->commits, 1u);
        EXPECT_EQ(state->acceptedCommits, 0u);
        EXPECT_EQ(state->lastImage, c.image);
        EXPECT_EQ(state->buffer, c.image);
    }
}

TEST_F(EmulationTest, WithoutImageCheckAnyImageIsAccepted) {
    useEmulation(
        R"({"devices": [ {"medium": true, "power_on_attention": false, "check_image": false,
                                   "activation_polls": 0} ]})");
    std::vector<std::uint8_t> junk(100, 0x42);
    ASSERT_EQ(download(0, junk), 0u);
    EXPECT_EQ(TestUnitReady(0), 0x2900u);
    EXPECT_EQ(TestUnitReady(0), 0x3F01u);
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0100");
    EXPECT_EQ(EmulatedDriveState(0)->acceptedCommits, 1u);
    // An image that names its revision still installs it.
    ASSERT_EQ(download(0, Image("0300")), 0u);
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0300");
    // Nothing of the first image may linger in the second.
    EXPECT_EQ(EmulatedDriveState(0)->lastImage, Image("0300"));
    EXPECT_TRUE(EmulatedDriveState(0)->buffer.empty());
}

TEST_F(EmulationTest, CommitWithDataStoresItFirst) {
    useEmulation(R"({"devices": [ {"power_on_attention": false, "activation_polls": 0} ]})");
    auto image = Image("0400", 64);
    ASSERT_EQ(WriteBuffer(0, 5, 0, 0, 64, image.data()), 0u);
    EXPECT_EQ(EmulatedDriveState(0)->lastImage, image);
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0400");
    // The drive came back with an empty buffer.
    EXPECT_TRUE(EmulatedDriveState(0)->buffer.empty());
}

TEST_F(EmulationTest, DriveStateLogsEveryCdbReceived) {
    useEmulation(R"({"devices": [ {} ]})");
    std::uint8_t byte = 9;
    GetDeviceType(0);
    TestUnitReady(0);
    WriteBuffer(0, 2, 0, 0x10, 1, &byte);
    GetScsiPath(0);
    const auto state = EmulatedDriveState(0);
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ(state->cdbs,
              (std::vector<std::vector<std::uint8_t>>{{0x12, 0, 0, 0, 36, 0},
                                                      {0x00, 0, 0, 0, 0, 0},
                                                      {0x3B, 2, 0, 0, 0, 0x10, 0, 0, 1, 0}}));
}

// The log keeps short commands inline and longer ones apart: each length comes back whole.
TEST(EmulatedDriveModel, LogsCdbsOfEveryLengthExactly) {
    std::vector<std::uint8_t> variableLength(32, 0);
    variableLength[0] = 0x7F;
    variableLength[31] = 0xA5;
    const std::vector<std::vector<std::uint8_t>> cdbs = {
        {},
        {0x00, 0, 0, 0, 0, 0},
        {0x3C, 2, 0, 0, 0, 0, 0, 0x20, 0, 0},
        {0x88, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
        {0x88, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16},
        variableLength,
    };
    EmulatedDrive drive(DriveModelConfig{});
    for (const auto& cdb : cdbs)
        drive.execute(cdb, {}, 0);
    EXPECT_EQ(drive.cdbLog(), cdbs);
}

TEST(EmulatedDriveModel, AnswersCdbsWithoutTheLibrary) {
    EmulatedDrive drive(DriveModelConfig{});
    const std::vector<std::uint8_t> tur{0, 0, 0, 0, 0, 0};
    Response response = drive.execute(tur, {}, 0);
    EXPECT_EQ(response.status, 0x02);
    const auto attention = ParseSense(response.sense);
    ASSERT_TRUE(attention.has_value());
    EXPECT_EQ(attention->senseKey, 0x06);
    EXPECT_EQ(attention->asc, 0x29);
    ASSERT_EQ(response.sense.size(), 18u);
    EXPECT_EQ(response.sense[0], 0x70);
    EXPECT_EQ(response.sense[7], 10);

    response = drive.execute(std::vector<std::uint8_t>{0x12, 0, 0, 0, 8, 0}, {}, 100);
    EXPECT_EQ(response.status, 0x00);
    EXPECT_EQ(response.dataIn.size(), 8u); // cut to the allocation length
    response =
        drive.execute(std::vector<std::uint8_t>{0xA0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, 0);
    EXPECT_EQ(ParseSense(response.sense)->asc, 0x20); // unknown opcode
    // Data-out shorter than the CDB's length.
    response = drive.execute(std::vector<std::uint8_t>{0x3B, 2, 0, 0, 0, 0, 0, 0, 8, 0},
                             std::vector<std::uint8_t>(4), 0);
    EXPECT_EQ(ParseSense(response.sense)->asc, 0x4B);
}

TEST(EmulatedDriveModel, VitalProductDataPages) {
    DriveModelConfig config;
    config.serial = "SN 42";
    EmulatedDrive drive(config);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> cdb;
        std::uint8_t asc; // 0: GOOD with data
        std::vector<std::uint8_t> data;
    };
    const std::vector<Case> cases = {
        {"supported pages", {0x12, 1, 0x00, 0, 255, 0}, 0, {0x01, 0x00, 0, 2, 0x00, 0x80}},
        {"serial number",
         {0x12, 1, 0x80, 0, 255, 0},
         0,
         {0x01, 0x80, 0, 5, 'S', 'N', ' ', '4', '2'}},
        {"cut to the allocation length", {0x12, 1, 0x80, 0, 6, 0}, 0, {0x01, 0x80, 0, 5, 'S', 'N'}},
        {"unsupported page", {0x12, 1, 0x83, 0, 255, 0}, 0x24, {}},
        {"page code without EVPD", {0x12, 0, 0x80, 0, 255, 0}, 0x24, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Response response = drive.execute(c.cdb, {}, 255);
        if (c.asc == 0) {
            EXPECT_EQ(response.status, 0x00);
            EXPECT_EQ(response.dataIn, c.data);
        } else {
            ASSERT_EQ(response.status, 0x02);
            EXPECT_EQ(ParseSense(response.sense)->senseKey, 0x05);
            EXPECT_EQ(ParseSense(response.sense)->asc, c.asc);
        }
    }
}

TEST_F(EmulationTest, SerialNumbersFromTheFileOrByPosition) {
    useEmulation(R"({"devices": [ {}, {"serial": "HU1234 X9"}, {} ]})");
    for (const auto& [index, expected] : std::vector<std::pair<std::uint32_t, std::string>>{
             {0, "EMU0000001"}, {1, "HU1234 X9"}, {2, "EMU0000003"}}) {
        char serial[SERIAL_NUMBER_SIZE];
        ASSERT_EQ(ReadSerialNumber(index, serial, sizeof serial), 0u);
        EXPECT_EQ(std::string(serial), expected);
    }
    char small[9]; // one short of "HU1234 X9" and its zero
    std::fill(std::begin(small), std::end(small), 'x');
    EXPECT_EQ(ReadSerialNumber(1, small, sizeof small), ZURVAX_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(small[0], 'x') << "nothing written";
    EXPECT_EQ(ReadSerialNumber(1, nullptr, 64), ZURVAX_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(ReadSerialNumber(3, small, sizeof small), ZURVAX_STATUS_NO_SUCH_DEVICE);
}

TEST_F(EmulationTest, DemoDrivesHaveSerialNumbersOfTheirOwn) {
    SetEnv("ZURVAX_EMULATION", "demo");
    Reset();
    std::set<std::string> serials;
    for (std::uint32_t index = 0; index < 5; ++index) {
        char serial[SERIAL_NUMBER_SIZE] = {};
        ASSERT_EQ(ReadSerialNumber(index, serial, sizeof serial), 0u);
        serials.insert(serial);
    }
    EXPECT_EQ(serials.size(), 5u);
}

TEST(EmulatedDriveModel, WritesDataInOnlyAsFarAsItSends) {
    EmulatedDrive drive(DriveModelConfig{});
    std::vector<std::uint8_t> dataIn(64, 0xEE);
    const std::vector<std::uint8_t> inquiry{0x12, 0, 0, 0, 8, 0};
    Answer answer = drive.execute(inquiry, {}, dataIn);
    ASSERT_EQ(answer.status, 0x00);
    ASSERT_EQ(answer.dataInLength, 8u);
    EXPECT_EQ(dataIn[0], 0x01); // a tape drive
    EXPECT_EQ(std::vector<std::uint8_t>(dataIn.begin() + 8, dataIn.end()),
              std::vector<std::uint8_t>(56, 0xEE));

    // A failed command sends nothing: the power-on unit attention fails this READ BUFFER.
    std::fill(dataIn.begin(), dataIn.end(), 0xEE);
    const std::vector<std::uint8_t> readBuffer{0x3C, 2, 0, 0, 0, 0, 0, 0, 64, 0};
    answer = drive.execute(readBuffer, {}, dataIn);
    EXPECT_EQ(answer.status, 0x02);
    EXPECT_EQ(answer.dataInLength, 0u);
    EXPECT_EQ(dataIn, std::vector<std::uint8_t>(64, 0xEE));

    // A read past what the buffer holds sends what there is, into a buffer smaller than asked.
    const std::vector<std::uint8_t> write{0x3B, 2, 0, 0, 0, 0, 0, 0, 4, 0};
    ASSERT_EQ(drive.execute(write, std::vector<std::uint8_t>{1, 2, 3, 4}, std::span<std::uint8_t>{})
                  .status,
              0x00);
    std::vector<std::uint8_t> small(3, 0xEE);
    answer = drive.execute(readBuffer, {}, small);
    EXPECT_EQ(answer.dataInLength, 3u);
    EXPECT_EQ(small, (std::vector<std::uint8_t>{1, 2, 3}));
}

} // namespace
} // namespace zurvax::test

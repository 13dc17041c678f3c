// Fault injection into the emulation's library calls: which calls it hits and what they do.
#include <numeric>

#include "TestSupport.h"
#include "zurvax/FaultInjection.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax::test {
namespace {

class FaultTest : public LibraryTest {
protected:
    std::size_t cdbCount(std::uint32_t index) { return EmulatedDriveState(index)->cdbs.size(); }
};

struct WindowCase {
    const char* rule;
    std::vector<bool> faulted; // per TestUnitReady call, from the first
};

TEST_F(FaultTest, FromAndCountChooseTheFaultedCalls) {
    const std::vector<WindowCase> cases = {
        {R"("from": 1)", {true, false, false, false, false}},
        {R"("from": 2, "count": 2)", {false, true, true, false, false}},
        {R"("from": 3, "count": 0)", {false, false, true, true, true}},
        {R"("from": 5)", {false, false, false, false, true}},
        {R"("from": 9)", {false, false, false, false, false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rule);
        useEmulation(R"({"devices": [ {"medium": true, "power_on_attention": false,
                         "faults": [ {"op": "TestUnitReady", "status": "0x0400", )" +
                     std::string(c.rule) + "} ] } ]}");
        for (std::size_t call = 0; call < c.faulted.size(); ++call) {
            SCOPED_TRACE(call + 1);
            const std::size_t before = cdbCount(0);
            EXPECT_EQ(TestUnitReady(0),
                      c.faulted[call]
                          ? static_cast<std::uint32_t>(LOGICAL_UNIT_NOT_READY_CAUSE_NOT_REPORTABLE)
                          : 0u);
            // A faulted call sends nothing.
            EXPECT_EQ(cdbCount(0) - before, c.faulted[call] ? 0u : 1u);
        }
    }
}

TEST_F(FaultTest, StatusMayBeANumberOrAHexString) {
    useEmulation(R"({"devices": [ {"power_on_attention": false, "faults": [
        {"op": "TestUnitReady", "status": 65545},
        {"op": "RequestSense", "status": "0xAA82"} ]} ]})");
    SENSE_DATA sense{};
    EXPECT_EQ(TestUnitReady(0), 65545u);
    EXPECT_EQ(RequestSense(0, &sense), 0xAA82u);
}

TEST_F(FaultTest, ModeNarrowsTheRuleAndItsCount) {
    useEmulation(R"({"devices": [ {"power_on_attention": false, "activation_polls": 0,
        "faults": [ {"op": "WriteBuffer", "mode": 5, "status": "0x2c00"} ]} ]})");
    std::string head = "KMR47000-FW:0200";
    std::vector<std::uint8_t> image(head.begin(), head.end());
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(WriteBuffer(0, 2, 0, 0, 16, image.data()), 0u);
    const std::size_t before = cdbCount(0);
    // The first mode-5 call is the first one the rule counts.
    EXPECT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), 0x2C00u);
    EXPECT_EQ(cdbCount(0), before);
    EXPECT_EQ(EmulatedDriveState(0)->commits, 0u);
    EXPECT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), 0u);
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0200");
}

TEST_F(FaultTest, StarCountsEveryOperationOnTheDevice) {
    useEmulation(R"({"devices": [ {"medium": true, "power_on_attention": false,
        "faults": [ {"op": "*", "from": 2, "count": 3, "status": "0x10003"} ]}, {"medium": true} ]})");
    INQUIRY_DATA data{};
    SENSE_DATA sense{};
    std::uint8_t byte = 0;
    EXPECT_EQ(TestUnitReady(0), 0u);                                // call 1
    EXPECT_EQ(ReadRawInquiryData(0, &data), ZURVAX_STATUS_TIMEOUT); // 2
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);                    // 3
    EXPECT_EQ(RequestSense(0, &sense), ZURVAX_STATUS_TIMEOUT);      // 4
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 0, &byte), 0u);                // 5
    EXPECT_EQ(GetDeviceType(0), 1);                                 // 6
    // Other devices have rules of their own.
    EXPECT_EQ(TestUnitReady(1), 0x2900u);
}

TEST_F(FaultTest, StatusFaultsOnPathAndTypeLookLikeNoDevice) {
    useEmulation(R"({"devices": [ {"host_adapter": 2, "target": 4, "lun": 1,
        "faults": [ {"op": "GetScsiPath", "status": 1}, {"op": "GetDeviceType", "status": 1} ]} ]})");
    const SCSI_PATH faulted = GetScsiPath(0);
    EXPECT_EQ(std::count(std::begin(faulted.bytes), std::end(faulted.bytes), 0), 4);
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    EXPECT_EQ(GetScsiPath(0).bytes[2], 4);
    EXPECT_EQ(GetDeviceType(0), 1);
}

TEST_F(FaultTest, CorruptChangesOneByteOfWhatIsMoved) {
    useEmulation(R"({"devices": [
        {"power_on_attention": false, "faults": [ {"op": "ReadRawInquiryData", "corrupt": true} ]},
        {"power_on_attention": false, "faults": [ {"op": "ReadBuffer", "from": 2, "corrupt": true} ]},
        {"power_on_attention": false, "faults": [ {"op": "WriteBuffer", "mode": 2, "corrupt": true} ]},
        {"power_on_attention": false, "type": 8, "host_adapter": 1, "target": 2, "lun": 3,
         "faults": [ {"op": "GetDeviceType", "corrupt": true}, {"op": "GetScsiPath", "corrupt": true},
                     {"op": "RequestSense", "corrupt": true} ]}
    ]})");
    auto differing = [](const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
        std::size_t count = 0;
        for (std::size_t i = 0; i < a.size(); ++i)
            count += a[i] != b[i];
        return count;
    };

    INQUIRY_DATA corrupted{};
    INQUIRY_DATA clean{};
    ASSERT_EQ(ReadRawInquiryData(0, &corrupted), 0u);
    ASSERT_EQ(ReadRawInquiryData(0, &clean), 0u);
    EXPECT_EQ(differing({std::begin(corrupted.bytes), std::end(corrupted.bytes)},
                        {std::begin(clean.bytes), std::end(clean.bytes)}),
              1u);

    std::vector<std::uint8_t> data(256);
    std::iota(data.begin(), data.end(), std::uint8_t{0});
    ASSERT_EQ(WriteBuffer(1, 2, 0, 0, 256, data.data()), 0u);
    std::vector<std::uint8_t> first(256), second(256);
    ASSERT_EQ(ReadBuffer(1, 2, 0, 0, 256, first.data()), 0u);
    ASSERT_EQ(ReadBuffer(1, 2, 0, 0, 256, second.data()), 0u);
    EXPECT_EQ(first, data);
    EXPECT_EQ(differing(second, data), 1u);
    EXPECT_EQ(EmulatedDriveState(1)->buffer, data); // the drive itself holds the right bytes

    const auto original = data;
    ASSERT_EQ(WriteBuffer(2, 2, 0, 0, 256, data.data()), 0u);
    EXPECT_EQ(data, original); // the caller's bytes are never changed
    EXPECT_EQ(differing(EmulatedDriveState(2)->buffer, data), 1u);
    std::vector<std::uint8_t> stored(256);
    ASSERT_EQ(ReadBuffer(2, 2, 0, 0, 256, stored.data()), 0u);
    EXPECT_EQ(stored, EmulatedDriveState(2)->buffer);

    EXPECT_NE(GetDeviceType(3), 8);
    EXPECT_EQ(GetDeviceType(3), 8);
    const SCSI_PATH path = GetScsiPath(3);
    const SCSI_PATH again = GetScsiPath(3);
    EXPECT_EQ(differing({std::begin(path.bytes), std::end(path.bytes)},
                        {std::begin(again.bytes), std::end(again.bytes)}),
              1u);
    SENSE_DATA sense{};
    SENSE_DATA plain{};
    ASSERT_EQ(RequestSense(3, &sense), 0u);
    ASSERT_EQ(RequestSense(3, &plain), 0u);
    EXPECT_EQ(differing({std::begin(sense.bytes), std::end(sense.bytes)},
                        {std::begin(plain.bytes), std::end(plain.bytes)}),
              1u);
}

// A device's serial number may hold NULs; the emulated drives never send one.
TEST_F(FaultTest, CorruptChangesTheSerialNumbersLastCharacterEvenPastANul) {
    std::vector<Recorded> log;
    auto transport = std::make_unique<RecordingTransport>(log);
    transport->script.dataIn = {0x01, 0x80, 0x00, 0x05, 'A', 'B', 0, 'C', 'D'};
    FaultRule corrupt;
    corrupt.op = Operation::ReadSerialNumber;
    corrupt.corrupt = true;
    UseTransport(std::move(transport), FaultRules{{corrupt}});
    const std::string sent("AB\0CD\0", 6);
    std::string corrupted = sent;
    corrupted[4] = static_cast<char>('D' ^ 0xFF);
    char serial[SERIAL_NUMBER_SIZE];
    ASSERT_EQ(ReadSerialNumber(0, serial, sizeof serial), 0u);
    EXPECT_EQ(std::string(serial, 6), corrupted);
    ASSERT_EQ(ReadSerialNumber(0, serial, sizeof serial), 0u);
    EXPECT_EQ(std::string(serial, 6), sent);
}

TEST_F(FaultTest, CountsStartAgainWhenTheLibraryIsOpenedAgain) {
    const std::string path =
        useEmulation(R"({"devices": [ {"medium": true, "power_on_attention": false,
        "faults": [ {"op": "TestUnitReady", "from": 2, "status": 7} ]} ]})");
    EXPECT_EQ(TestUnitReady(0), 0u);
    EXPECT_EQ(TestUnitReady(0), 7u);
    useEmulationFile(path);
    EXPECT_EQ(TestUnitReady(0), 0u);
    EXPECT_EQ(TestUnitReady(0), 7u);
    EXPECT_EQ(TestUnitReady(0), 0u);
}

TEST_F(FaultTest, SampleFileFailsTheSecondReadBack) {
    useEmulationFile(DataFile("faults.json"));
    ASSERT_EQ(ZurvaxOpen(nullptr, 0), 0u);
    std::vector<std::uint8_t> data(64, 0x3C);
    std::vector<std::uint8_t> back(64);
    ASSERT_EQ(WriteBuffer(0, 2, 0, 0, 64, data.data()), 0x2900u);
    ASSERT_EQ(WriteBuffer(0, 2, 0, 0, 64, data.data()), 0u);
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 64, back.data()), 0u);
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 64, back.data()), ZURVAX_STATUS_TRANSPORT_ERROR);
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 64, back.data()), 0u);
}

} // namespace
} // namespace zurvax::test

// The C functions as the program sees them: sources, end of the device list, the trace.
#include <algorithm>
#include <regex>
#include <set>
#include <thread>

#include "TestSupport.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax::test {
namespace {

class ApiTest : public LibraryTest {};

TEST_F(ApiTest, WithoutEmulationAMachineWithoutDevicesOffersNone) {
#ifndef _WIN32
    for (const auto& entry : std::filesystem::directory_iterator("/dev")) {
        if (entry.path().filename().string().rfind("sg", 0) == 0) {
            GTEST_SKIP() << "this machine has SCSI generic nodes: " << entry.path();
        }
    }
#endif
    char message[128] = "untouched";
    EXPECT_EQ(ZurvaxOpen(message, sizeof message), 0u);
    EXPECT_NE(std::string(message), "untouched");
#ifndef _WIN32
    // Nothing to warn about on a machine without devices.
    EXPECT_EQ(std::string(message), "");
#endif
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    INQUIRY_DATA data{};
    EXPECT_EQ(ReadRawInquiryData(0, &data), static_cast<std::uint32_t>(END_OF_DEVICE_LIST));
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_NO_SUCH_DEVICE);
    EXPECT_FALSE(EmulatedDriveState(0).has_value());
}

TEST_F(ApiTest, DemoOffersTwoKmrDrivesOfDifferentRevisionsAndOtherDevices) {
    SetEnv("ZURVAX_EMULATION", "demo");
    Reset();
    char message[128] = {};
    ASSERT_EQ(ZurvaxOpen(message, sizeof message), 0u);
    EXPECT_EQ(std::string(message), "") << "a working emulation has nothing to warn about";

    struct Expected {
        std::uint8_t type;
        std::string vendor;
        std::string product;
    };
    const std::vector<Expected> expected = {
        {1, "VORN    ", "KMR-47000       "}, {1, "VORN    ", "KMR-47000       "},
        {0, "DISKCO  ", "DK-2000         "}, {8, "ACMELIB ", "AUTOLOADER-8    "},
        {1, "OTHERCO ", "TX-900          "},
    };
    std::vector<std::string> revisions;
    std::set<std::uint32_t> paths;
    for (std::uint32_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        INQUIRY_DATA data{};
        ASSERT_EQ(ReadRawInquiryData(i, &data), 0u);
        EXPECT_EQ(GetDeviceType(i), expected[i].type);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data.bytes) + 8, 8), expected[i].vendor);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data.bytes) + 16, 16), expected[i].product);
        revisions.emplace_back(reinterpret_cast<char*>(data.bytes) + 32, 4);
        const SCSI_PATH path = GetScsiPath(i);
        paths.insert((std::uint32_t{path.bytes[1]} << 16) | (path.bytes[2] << 8) | path.bytes[3]);
    }
    EXPECT_EQ(paths.size(), expected.size());
    EXPECT_NE(revisions[0], revisions[1]);
    EXPECT_EQ(GetDeviceType(static_cast<std::uint32_t>(expected.size())), NO_DEVICE_TYPE);
}

TEST_F(ApiTest, EndOfListByDeviceTypeOrByInquiry) {
    struct Case {
        const char* endOfList;
        std::uint8_t typePastEnd;
    };
    for (const Case c :
         {Case{"", NO_DEVICE_TYPE}, Case{R"("end_of_list": "device_type",)", NO_DEVICE_TYPE},
          Case{R"("end_of_list": "inquiry",)", 1}}) {
        SCOPED_TRACE(c.endOfList);
        useEmulation(std::string("{") + c.endOfList +
                     R"( "devices": [ {"type": 1}, {"type": 8} ] })");
        EXPECT_EQ(GetDeviceType(1), 8);
        EXPECT_EQ(GetDeviceType(2), c.typePastEnd);
        EXPECT_EQ(GetDeviceType(0xFFFFFFFF), c.typePastEnd);
        INQUIRY_DATA data{};
        EXPECT_EQ(ReadRawInquiryData(1, &data), 0u);
        INQUIRY_DATA past{};
        EXPECT_EQ(ReadRawInquiryData(2, &past), static_cast<std::uint32_t>(END_OF_DEVICE_LIST));
        EXPECT_EQ(std::count(std::begin(past.bytes), std::end(past.bytes), 0), 36);
        const SCSI_PATH path = GetScsiPath(2);
        EXPECT_EQ(std::count(std::begin(path.bytes), std::end(path.bytes), 0), 4);
        std::uint8_t byte = 0;
        SENSE_DATA sense{};
        EXPECT_EQ(TestUnitReady(2), ZURVAX_STATUS_NO_SUCH_DEVICE);
        EXPECT_EQ(RequestSense(2, &sense), ZURVAX_STATUS_NO_SUCH_DEVICE);
        EXPECT_EQ(WriteBuffer(2, 2, 0, 0, 1, &byte), ZURVAX_STATUS_NO_SUCH_DEVICE);
        EXPECT_EQ(ReadBuffer(2, 2, 0, 0, 1, &byte), ZURVAX_STATUS_NO_SUCH_DEVICE);
    }
}

TEST_F(ApiTest, ClaimsOfEmulatedDrives) {
    useEmulation(R"({"devices": [ {}, {"tape_in_use": true} ]})");
    EXPECT_EQ(ClaimDevice(0), 0u);
    EXPECT_EQ(ClaimDevice(0), ZURVAX_STATUS_DEVICE_IN_USE) << "claimed already";
    EXPECT_EQ(ReleaseDevice(0), 0u);
    EXPECT_EQ(ClaimDevice(0), 0u) << "free again";
    EXPECT_EQ(ClaimDevice(1), ZURVAX_STATUS_DEVICE_IN_USE)
        << "another program holds its tape device";
    EXPECT_EQ(ReleaseDevice(1), 0u) << "nothing to give back";
    EXPECT_EQ(ClaimDevice(2), ZURVAX_STATUS_NO_SUCH_DEVICE);
    Reset();
    EXPECT_EQ(ClaimDevice(0), 0u) << "a new open holds nothing";
}

TEST_F(ApiTest, OpenMessageIsTruncatedAndTerminated) {
    // The double's description stands for a transport's start-up warning.
    std::vector<Recorded> log;
    UseTransport(std::make_unique<RecordingTransport>(log));
    char full[256] = {};
    ASSERT_EQ(ZurvaxOpen(full, sizeof full), 0u);
    const std::string text(full);
    ASSERT_GT(text.size(), 4u);
    char small[5];
    std::fill(std::begin(small), std::end(small), 'x');
    EXPECT_EQ(ZurvaxOpen(small, sizeof small), 0u);
    EXPECT_EQ(std::string(small), text.substr(0, 4));
    char none = 'x';
    EXPECT_EQ(ZurvaxOpen(&none, 0), 0u);
    EXPECT_EQ(none, 'x');
    EXPECT_EQ(ZurvaxOpen(nullptr, 10), 0u);
}

TEST_F(ApiTest, ResetReadsTheEnvironmentAgain) {
    useEmulation(R"({"devices": [ {"revision": "0777"} ]})");
    ASSERT_TRUE(EmulatedDriveState(0).has_value());
    EXPECT_EQ(EmulatedDriveState(0)->revision, "0777");
    UnsetEnv("ZURVAX_EMULATION");
    // Without Reset the opened source stays.
    EXPECT_TRUE(EmulatedDriveState(0).has_value());
    Reset();
    EXPECT_FALSE(EmulatedDriveState(0).has_value());
}

class TraceTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        tracePath = scratch("trace.txt").string();
        SetEnv("ZURVAX_TRACE", tracePath);
    }
    std::string tracePath;
};

TEST_F(TraceTest, EveryCallAppendsExactlyOneLine) {
    useEmulation(R"({"devices": [ {"host_adapter": 1, "target": 5, "power_on_attention": false,
                                    "faults": [ {"op": "ReadSerialNumber", "corrupt": true} ],
                                    "serial": "SN\\0/"} ]})");
    std::vector<std::string> expected;

    expected.push_back("ZurvaxOpen -> " + Hex(ZurvaxOpen(nullptr, 0)));
    const std::uint8_t type = GetDeviceType(0);
    EXPECT_EQ(type, 1);
    expected.push_back("GetDeviceType 0 -> " + std::to_string(type));
    INQUIRY_DATA inquiry{};
    EXPECT_EQ(ReadRawInquiryData(0, &inquiry), 0u);
    expected.push_back("ReadRawInquiryData 0 -> 0");
    EXPECT_EQ(ReadRawInquiryData(7, &inquiry), static_cast<std::uint32_t>(END_OF_DEVICE_LIST));
    expected.push_back("ReadRawInquiryData 7 -> aa82");
    GetScsiPath(0);
    expected.push_back("GetScsiPath 0 -> 00010500");
    EXPECT_EQ(TestUnitReady(0), static_cast<std::uint32_t>(MEDIUM_NOT_PRESENT));
    expected.push_back("TestUnitReady 0 -> 3a00");
    SENSE_DATA sense{};
    EXPECT_EQ(RequestSense(0, &sense), 0u);
    expected.push_back("RequestSense 0 -> 0");
    std::vector<std::uint8_t> data(8192, 0x33);
    EXPECT_EQ(WriteBuffer(0, 2, 0, 8192, 8192, data.data()), 0u);
    expected.push_back("WriteBuffer 0 mode=2 id=0 offset=8192 length=8192 -> 0");
    EXPECT_EQ(ReadBuffer(0, 2, 0, 8192, 8192, data.data()), 0u);
    expected.push_back("ReadBuffer 0 mode=2 id=0 offset=8192 length=8192 -> 0");
    EXPECT_EQ(WriteBuffer(0, 2, 0, 0x1000000, 1, data.data()), ZURVAX_STATUS_FIELD_TOO_LARGE);
    expected.push_back("WriteBuffer 0 mode=2 id=0 offset=16777216 length=1 -> 10007");
    EXPECT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), 0x2600u);
    expected.push_back("WriteBuffer 0 mode=5 id=0 offset=0 length=0 -> 2600");
    char serial[SERIAL_NUMBER_SIZE];
    EXPECT_EQ(ReadSerialNumber(0, serial, sizeof serial), 0u);
    expected.push_back("ReadSerialNumber 0 -> 0 serial=SN\\0?");
    EXPECT_EQ(ReadSerialNumber(0, serial, 3), ZURVAX_STATUS_INVALID_ARGUMENT);
    expected.push_back("ReadSerialNumber 0 -> 1000e");
    EXPECT_EQ(ClaimDevice(0), 0u);
    expected.push_back("ClaimDevice 0 -> 0");
    EXPECT_EQ(ReleaseDevice(0), 0u);
    expected.push_back("ReleaseDevice 0 -> 0");

    EXPECT_EQ(ReadLines(tracePath), expected);
}

TEST_F(TraceTest, BadEmulationFileIsTracedToo) {
    useEmulation("[]");
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_BAD_EMULATION_FILE);
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    EXPECT_EQ(ReadLines(tracePath),
              (std::vector<std::string>{"TestUnitReady 0 -> 10009", "GetDeviceType 0 -> 31"}));
}

TEST_F(TraceTest, NoTraceWithoutTheVariable) {
    UnsetEnv("ZURVAX_TRACE");
    useEmulation(R"({"devices": [{}]})");
    TestUnitReady(0);
    EXPECT_FALSE(std::filesystem::exists(tracePath));
}

TEST_F(TraceTest, TwoThreadsNeverMixTheirLines) {
    useEmulation(R"({"devices": [ {"medium": true, "power_on_attention": false}, {} ]})");
    constexpr int kCalls = 200;
    std::thread ui([] {
        for (int i = 0; i < kCalls; ++i)
            TestUnitReady(0);
    });
    std::thread worker([] {
        std::vector<std::uint8_t> data(512, 0x77);
        for (int i = 0; i < kCalls; ++i)
            WriteBuffer(1, 2, 0, 512u * static_cast<unsigned>(i), 512, data.data());
    });
    ui.join();
    worker.join();
    const auto lines = ReadLines(tracePath);
    ASSERT_EQ(lines.size(), 2u * kCalls);
    const std::regex form(
        R"(TestUnitReady 0 -> 0|WriteBuffer 1 mode=2 id=0 offset=\d+ length=512 -> (0|2900))");
    for (const auto& line : lines)
        EXPECT_TRUE(std::regex_match(line, form)) << line;
    const auto state = EmulatedDriveState(1);
    ASSERT_TRUE(state.has_value());
    // The first write met the power-on unit attention; every later one was stored.
    EXPECT_EQ(state->buffer.size(), 512u * kCalls);
}

} // namespace
} // namespace zurvax::test

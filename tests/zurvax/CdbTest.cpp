// The CDBs each C operation puts on the wire, captured by a recording transport.
#include <array>
#include <memory>
#include <numeric>
#include <optional>

#include "TestSupport.h"
#include "zurvax/Cdb.h"
#include "zurvax/Operations.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax::test {
namespace {

class CdbTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        auto transport = std::make_unique<RecordingTransport>(log, 2);
        transport_ = transport.get();
        UseTransport(std::move(transport));
    }

    std::vector<Recorded> log;
    RecordingTransport* transport_ = nullptr;
};

struct CdbCase {
    const char* name;
    std::function<void()> call;
    std::vector<std::uint8_t> cdb;
    DataDirection direction;
    std::size_t dataInCapacity;
    std::chrono::milliseconds timeout;
};

TEST_F(CdbTest, EveryOperationSendsItsCdb) {
    std::array<std::uint8_t, 16> payload{};
    std::iota(payload.begin(), payload.end(), std::uint8_t{0x40});
    std::array<std::uint8_t, 32> readBack{};
    INQUIRY_DATA inquiry{};
    SENSE_DATA sense{};
    char serial[SERIAL_NUMBER_SIZE];

    const std::vector<CdbCase> cases = {
        {"GetDeviceType",
         [] { GetDeviceType(1); },
         {0x12, 0, 0, 0, 36, 0},
         DataDirection::FromDevice,
         36,
         kInquiryTimeout},
        {"ReadRawInquiryData",
         [&] { ReadRawInquiryData(1, &inquiry); },
         {0x12, 0, 0, 0, 36, 0},
         DataDirection::FromDevice,
         36,
         kInquiryTimeout},
        {"TestUnitReady",
         [] { TestUnitReady(1); },
         {0x00, 0, 0, 0, 0, 0},
         DataDirection::None,
         0,
         kTestUnitReadyTimeout},
        {"RequestSense",
         [&] { RequestSense(1, &sense); },
         {0x03, 0, 0, 0, kRequestSenseLength, 0},
         DataDirection::FromDevice,
         kRequestSenseLength,
         kRequestSenseTimeout},
        {"WriteBuffer data",
         [&] { WriteBuffer(1, 2, 0, 0x012345, 16, payload.data()); },
         {0x3B, 0x02, 0x00, 0x01, 0x23, 0x45, 0x00, 0x00, 0x10, 0x00},
         DataDirection::ToDevice,
         0,
         kWriteBufferTimeout},
        {"WriteBuffer commit",
         [] { WriteBuffer(1, 5, 0, 0, 0, nullptr); },
         {0x3B, 0x05, 0x00, 0, 0, 0, 0, 0, 0, 0x00},
         DataDirection::None,
         0,
         kWriteBufferTimeout},
        {"WriteBuffer mode high bits dropped",
         [&] { WriteBuffer(1, 0xE2, 9, 0, 16, payload.data()); },
         {0x3B, 0x02, 0x09, 0, 0, 0, 0, 0, 0x10, 0x00},
         DataDirection::ToDevice,
         0,
         kWriteBufferTimeout},
        {"ReadBuffer",
         [&] { ReadBuffer(1, 2, 7, 0xABCDEF, 32, readBack.data()); },
         {0x3C, 0x02, 0x07, 0xAB, 0xCD, 0xEF, 0x00, 0x00, 0x20, 0x00},
         DataDirection::FromDevice,
         32,
         kReadBufferTimeout},
        {"ReadSerialNumber",
         [&] { ReadSerialNumber(1, serial, sizeof serial); },
         {0x12, 0x01, 0x80, 0, 255, 0},
         DataDirection::FromDevice,
         255,
         kInquiryTimeout},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        log.clear();
        c.call();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].index, 1u);
        EXPECT_EQ(log[0].cdb, c.cdb);
        EXPECT_EQ(log[0].direction, c.direction);
        EXPECT_EQ(log[0].dataInCapacity, c.dataInCapacity);
        EXPECT_EQ(log[0].timeout, c.timeout);
        if (c.direction == DataDirection::ToDevice) {
            EXPECT_EQ(log[0].dataOut, std::vector<std::uint8_t>(payload.begin(), payload.end()));
        } else {
            EXPECT_TRUE(log[0].dataOut.empty());
        }
    }
}

// The serial number page as real devices send it, and as they get it wrong.
TEST_F(CdbTest, SerialNumberPageAnswers) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> page;
        std::optional<std::size_t> residual;
        std::uint32_t status;
        const char* serial;
    };
    const std::vector<Case> cases = {
        {"plain", {1, 0x80, 0, 4, 'A', 'B', '1', '2'}, {}, 0, "AB12"},
        {"padded with blanks on both sides",
         {1, 0x80, 0, 6, ' ', 'A', ' ', 'B', ' ', ' '},
         {},
         0,
         "A B"},
        {"padded with zero bytes", {1, 0x80, 0, 4, 'X', 'Y', 0, 0}, {}, 0, "XY"},
        {"no serial number", {1, 0x80, 0, 0}, {}, 0, ""},
        {"bytes past the page's length ignored", {1, 0x80, 0, 2, 'O', 'K', 'Z', 'Z'}, 0, 0, "OK"},
        {"page longer than what came",
         {1, 0x80, 0, 9, 'A', 'B'},
         {},
         ZURVAX_STATUS_SHORT_TRANSFER,
         nullptr},
        {"another page", {1, 0x83, 0, 2, 'A', 'B'}, {}, ZURVAX_STATUS_SHORT_TRANSFER, nullptr},
        {"less than a header", {1, 0x80, 0}, {}, ZURVAX_STATUS_SHORT_TRANSFER, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        transport_->script.dataIn = c.page;
        transport_->script.residual = c.residual;
        char serial[SERIAL_NUMBER_SIZE];
        std::fill(std::begin(serial), std::end(serial), '#');
        EXPECT_EQ(ReadSerialNumber(0, serial, sizeof serial), c.status);
        if (c.serial != nullptr)
            EXPECT_EQ(std::string(serial), c.serial);
        else
            EXPECT_EQ(serial[0], '#') << "nothing written";
    }
}

TEST_F(CdbTest, GetScsiPathSendsNothingAndReportsTheTransportsPath) {
    const SCSI_PATH path = GetScsiPath(1);
    EXPECT_TRUE(log.empty());
    const DevicePath expected = transport_->devicePath(1);
    // Byte 0 is unused and always reported as zero, whatever the transport says.
    EXPECT_EQ(path.bytes[0], 0);
    EXPECT_EQ(path.bytes[1], expected[1]);
    EXPECT_EQ(path.bytes[2], expected[2]);
    EXPECT_EQ(path.bytes[3], expected[3]);
}

TEST_F(CdbTest, FieldsBeyond24BitsAreRefusedWithNothingSent) {
    std::vector<std::uint8_t> data(16);
    struct Case {
        const char* name;
        std::function<std::uint32_t()> call;
    };
    const std::vector<Case> cases = {
        {"WriteBuffer offset", [&] { return WriteBuffer(0, 2, 0, 0x1000000, 16, data.data()); }},
        {"WriteBuffer length", [&] { return WriteBuffer(0, 2, 0, 0, 0x1000000, data.data()); }},
        {"WriteBuffer both",
         [&] { return WriteBuffer(0, 2, 0, 0xFFFFFFFF, 0xFFFFFFFF, data.data()); }},
        {"ReadBuffer offset", [&] { return ReadBuffer(0, 2, 0, 0x1000000, 16, data.data()); }},
        {"ReadBuffer length", [&] { return ReadBuffer(0, 2, 0, 0, 0x1000000, data.data()); }},
        {"ReadBuffer offset max+1 commit-like",
         [&] { return ReadBuffer(0, 5, 0, 0x1000000, 0, data.data()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), ZURVAX_STATUS_FIELD_TOO_LARGE);
        EXPECT_TRUE(log.empty());
    }
}

TEST(CdbBuilders, LargestFieldsFitAndOneMoreDoesNot) {
    const auto write = WriteBufferCdb(2, 0, kMaxField24, kMaxField24);
    ASSERT_TRUE(write.has_value());
    EXPECT_EQ(std::vector<std::uint8_t>(write->view().begin(), write->view().end()),
              (std::vector<std::uint8_t>{0x3B, 2, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0}));
    const auto read = ReadBufferCdb(2, 0, kMaxField24, kMaxField24);
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(Field24(read->view(), 3), kMaxField24);
    EXPECT_EQ(Field24(read->view(), 6), kMaxField24);
    EXPECT_FALSE(WriteBufferCdb(2, 0, kMaxField24 + 1, 0).has_value());
    EXPECT_FALSE(ReadBufferCdb(2, 0, 0, kMaxField24 + 1).has_value());
}

} // namespace
} // namespace zurvax::test

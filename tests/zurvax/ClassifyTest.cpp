// Status mapping: every category of a command's outcome, judged on its own.
#include <array>
#include <set>

#include "TestSupport.h"
#include "zurvax/Cdb.h"
#include "zurvax/Classify.h"
#include "zurvax/Operations.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax::test {
namespace {

std::vector<std::uint8_t> Fixed(std::uint8_t code, std::uint8_t key, std::uint8_t asc,
                                std::uint8_t ascq) {
    std::vector<std::uint8_t> sense(18, 0);
    sense[0] = code;
    sense[2] = key;
    sense[7] = 10;
    sense[12] = asc;
    sense[13] = ascq;
    return sense;
}

std::vector<std::uint8_t> Descriptor(std::uint8_t code, std::uint8_t key, std::uint8_t asc,
                                     std::uint8_t ascq) {
    return {code, key, asc, ascq, 0, 0, 0, 0};
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

ScsiResult Scsi(std::uint8_t status, std::vector<std::uint8_t> sense = {}) {
    ScsiResult result;
    result.scsiStatus = status;
    result.sense = std::move(sense);
    return result;
}

ScsiResult Os(OsError error, int code) {
    ScsiResult result;
    result.osError = error;
    result.osErrorCode = code;
    return result;
}

ScsiResult Host(TransportStatus status, std::uint8_t scsiStatus = kScsiGood) {
    ScsiResult result;
    result.transport = status;
    result.hostStatus = 0x03;
    result.scsiStatus = scsiStatus;
    return result;
}

struct StatusCase {
    const char* name;
    ScsiResult result;
    std::uint32_t expected;
};

TEST(Classify, MapsEachOutcomeOfACommandWithoutData) {
    const std::vector<StatusCase> cases = {
        {"good", Scsi(kScsiGood), 0},
        {"fixed current", Scsi(kScsiCheckCondition, Fixed(0x70, 2, 0x3A, 0x00)), 0x3A00},
        {"fixed deferred", Scsi(kScsiCheckCondition, Fixed(0x71, 2, 0x04, 0x01)), 0x0401},
        {"fixed with valid bit", Scsi(kScsiCheckCondition, Fixed(0xF0, 5, 0x26, 0x00)), 0x2600},
        {"descriptor current", Scsi(kScsiCheckCondition, Descriptor(0x72, 6, 0x29, 0x00)), 0x2900},
        {"descriptor deferred", Scsi(kScsiCheckCondition, Descriptor(0x73, 6, 0x3F, 0x01)), 0x3F01},
        {"vendor ASC", Scsi(kScsiCheckCondition, Fixed(0x70, 5, 0x82, 0x83)), 0x8283},
        {"fixed 00/00", Scsi(kScsiCheckCondition, Fixed(0x70, 5, 0, 0)),
         ZURVAX_STATUS_CHECK_CONDITION_NO_ASC},
        {"descriptor 00/00", Scsi(kScsiCheckCondition, Descriptor(0x72, 5, 0, 0)),
         ZURVAX_STATUS_CHECK_CONDITION_NO_ASC},
        {"no sense bytes", Scsi(kScsiCheckCondition), ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE},
        {"fixed cut before ASCQ", Scsi(kScsiCheckCondition, Cut(Fixed(0x70, 2, 0x3A, 0), 13)),
         ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE},
        {"descriptor cut", Scsi(kScsiCheckCondition, {0x72, 2, 0x3A}),
         ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE},
        {"unknown response code", Scsi(kScsiCheckCondition, Fixed(0x7F, 2, 0x3A, 0)),
         ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE},
        {"busy", Scsi(kScsiBusy), ZURVAX_STATUS_BUSY},
        {"reservation conflict", Scsi(kScsiReservationConflict),
         ZURVAX_STATUS_RESERVATION_CONFLICT},
        {"task set full", Scsi(kScsiTaskSetFull), ZURVAX_STATUS_OTHER_SCSI_STATUS},
        {"ACA active", Scsi(kScsiAcaActive), ZURVAX_STATUS_OTHER_SCSI_STATUS},
        {"task aborted", Scsi(kScsiTaskAborted), ZURVAX_STATUS_OTHER_SCSI_STATUS},
        {"condition met", Scsi(kScsiConditionMet), ZURVAX_STATUS_OTHER_SCSI_STATUS},
        {"host timeout", Host(TransportStatus::Timeout), ZURVAX_STATUS_TIMEOUT},
        {"host no connect", Host(TransportStatus::NoDevice), ZURVAX_STATUS_NO_SUCH_DEVICE},
        {"host error", Host(TransportStatus::Error), ZURVAX_STATUS_TRANSPORT_ERROR},
        {"host error beats check condition", Host(TransportStatus::Error, kScsiCheckCondition),
         ZURVAX_STATUS_TRANSPORT_ERROR},
        {"OS permission", Os(OsError::PermissionDenied, 13), ZURVAX_STATUS_PERMISSION_DENIED},
        {"OS no device", Os(OsError::NoDevice, 19), ZURVAX_STATUS_NO_SUCH_DEVICE},
        {"OS timeout", Os(OsError::TimedOut, 110), ZURVAX_STATUS_TIMEOUT},
        {"OS other", Os(OsError::Other, 5), ZURVAX_STATUS_OS_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScsiCommand command(TestUnitReadyCdb().view(), kTestUnitReadyTimeout);
        EXPECT_EQ(Classify(command, c.result), c.expected);
    }
}

TEST(Classify, OsErrorIsJudgedBeforeTransportAndScsiStatus) {
    ScsiResult result = Host(TransportStatus::Timeout, kScsiBusy);
    result.osError = OsError::PermissionDenied;
    ScsiCommand command(TestUnitReadyCdb().view(), kTestUnitReadyTimeout);
    EXPECT_EQ(Classify(command, result), ZURVAX_STATUS_PERMISSION_DENIED);
    result.osError = OsError::None;
    EXPECT_EQ(Classify(command, result), ZURVAX_STATUS_TIMEOUT);
    result.transport = TransportStatus::Ok;
    EXPECT_EQ(Classify(command, result), ZURVAX_STATUS_BUSY);
}

TEST(Classify, DataInShorterThanRequiredFails) {
    struct Case {
        std::size_t capacity;
        std::size_t required;
        std::size_t residual;
        std::uint32_t expected;
    };
    const std::vector<Case> cases = {
        {36, 36, 0, 0},
        {36, 36, 1, ZURVAX_STATUS_SHORT_TRANSFER},
        {36, 36, 36, ZURVAX_STATUS_SHORT_TRANSFER},
        {36, 36, 1000, ZURVAX_STATUS_SHORT_TRANSFER},
        {18, 8, 10, 0},
        {18, 8, 11, ZURVAX_STATUS_SHORT_TRANSFER},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.capacity << "/" << c.required << "/" << c.residual);
        std::vector<std::uint8_t> buffer(c.capacity);
        ScsiCommand command(InquiryCdb(36).view(), kInquiryTimeout);
        command.setDataIn(buffer, c.required);
        ScsiResult result;
        result.residual = c.residual;
        EXPECT_EQ(Classify(command, result), c.expected);
    }
}

TEST(Classify, ShortDataDoesNotHideACheckCondition) {
    std::vector<std::uint8_t> buffer(36);
    ScsiCommand command(InquiryCdb(36).view(), kInquiryTimeout);
    command.setDataIn(buffer, buffer.size());
    ScsiResult result = Scsi(kScsiCheckCondition, Fixed(0x70, 5, 0x24, 0));
    result.residual = 36;
    EXPECT_EQ(Classify(command, result), 0x2400u);
}

TEST(Classify, DataOutNotFullyTakenFails) {
    std::vector<std::uint8_t> data(64);
    ScsiCommand command(WriteBufferCdb(2, 0, 0, 64)->view(), kWriteBufferTimeout);
    command.setDataOut(data);
    ScsiResult result;
    EXPECT_EQ(Classify(command, result), 0u);
    result.residual = 1;
    EXPECT_EQ(Classify(command, result), ZURVAX_STATUS_SHORT_TRANSFER);
}

TEST(ParseSense, ReadsKeyAndCodesFromBothFormats) {
    const auto fixed = ParseSense(Fixed(0x70, 0x06, 0x29, 0x01));
    ASSERT_TRUE(fixed.has_value());
    EXPECT_EQ(fixed->senseKey, 0x06);
    EXPECT_EQ(fixed->asc, 0x29);
    EXPECT_EQ(fixed->ascq, 0x01);
    const auto descriptor = ParseSense(Descriptor(0x72, 0x05, 0x26, 0x02));
    ASSERT_TRUE(descriptor.has_value());
    EXPECT_EQ(descriptor->senseKey, 0x05);
    EXPECT_EQ(descriptor->asc, 0x26);
    EXPECT_EQ(descriptor->ascq, 0x02);
}

TEST(ZurvaxStatus, OwnStatusesAreDistinctAndAboveEverySenseCode) {
    const std::vector<std::uint32_t> statuses = {
        ZURVAX_STATUS_NO_SUCH_DEVICE,
        ZURVAX_STATUS_TRANSPORT_ERROR,
        ZURVAX_STATUS_TIMEOUT,
        ZURVAX_STATUS_BUSY,
        ZURVAX_STATUS_RESERVATION_CONFLICT,
        ZURVAX_STATUS_OTHER_SCSI_STATUS,
        ZURVAX_STATUS_FIELD_TOO_LARGE,
        ZURVAX_STATUS_PERMISSION_DENIED,
        ZURVAX_STATUS_BAD_EMULATION_FILE,
        ZURVAX_STATUS_SHORT_TRANSFER,
        ZURVAX_STATUS_CHECK_CONDITION_NO_ASC,
        ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE,
        ZURVAX_STATUS_OS_ERROR,
        ZURVAX_STATUS_INVALID_ARGUMENT,
        ZURVAX_STATUS_DEVICE_IN_USE,
        ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK,
    };
    EXPECT_EQ(std::set<std::uint32_t>(statuses.begin(), statuses.end()).size(), statuses.size());
    for (const auto status : statuses) {
        EXPECT_GT(status, 0xFFFFu);
        EXPECT_NE(status, static_cast<std::uint32_t>(END_OF_DEVICE_LIST));
    }
}

// The same outcomes reach the C functions unchanged, and nothing stale reaches the caller.
class ClassifyThroughApi : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        auto transport = std::make_unique<RecordingTransport>(log);
        transport_ = transport.get();
        UseTransport(std::move(transport));
    }
    std::vector<Recorded> log;
    RecordingTransport* transport_ = nullptr;
};

// READ BUFFER lands in the caller's buffer. Whatever part of it a failed read filled, the
// first byte stays as the caller set it (a download's check that the device sent anything
// rests on that), and nothing past the length is written.
TEST_F(ClassifyThroughApi, FailedReadBufferKeepsTheCallersFirstByte) {
    constexpr std::uint32_t kLength = 8192;
    const struct {
        const char* what;
        ScsiResult result;
        std::size_t sent;
        std::uint32_t status;
    } cases[] = {
        {"short", {}, kLength - 28, ZURVAX_STATUS_SHORT_TRANSFER},
        {"all sent, then no medium", Scsi(kScsiCheckCondition, Fixed(0x70, 2, 0x3A, 0)), kLength,
         0x3A00},
        {"whole", {}, kLength, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        transport_->script.result = c.result;
        transport_->script.dataIn = std::vector<std::uint8_t>(c.sent, 0xAB);
        std::vector<std::uint8_t> data(kLength + 1, 0x5A);
        EXPECT_EQ(ReadBuffer(0, 2, 0, 0, kLength, data.data()), c.status);
        EXPECT_EQ(data[0], c.status == 0 ? 0xAB : 0x5A);
        EXPECT_EQ(data[kLength], 0x5A);
        if (c.status == 0) {
            EXPECT_EQ(std::count(data.begin(), data.end(), 0xAB), kLength);
        }
    }
}

TEST_F(ClassifyThroughApi, FailedInquiryLeavesTheRecordZero) {
    transport_->script.result = Scsi(kScsiBusy);
    transport_->script.dataIn = std::vector<std::uint8_t>(36, 0x11);
    INQUIRY_DATA data{};
    EXPECT_EQ(ReadRawInquiryData(0, &data), ZURVAX_STATUS_BUSY);
    EXPECT_EQ(std::count(std::begin(data.bytes), std::end(data.bytes), 0), 36);
}

TEST_F(ClassifyThroughApi, ShortInquiryFails) {
    transport_->script.dataIn = std::vector<std::uint8_t>(20, 0x01);
    INQUIRY_DATA data{};
    EXPECT_EQ(ReadRawInquiryData(0, &data), ZURVAX_STATUS_SHORT_TRANSFER);
}

TEST_F(ClassifyThroughApi, DeviceTypeFallsBackToEnumerationWhenInquiryFails) {
    transport_->script.result = Host(TransportStatus::Timeout);
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    transport_->enumeratedType = 8;
    EXPECT_EQ(GetDeviceType(0), 8);
    transport_->script.result = ScsiResult{};
    transport_->script.dataIn = std::vector<std::uint8_t>(36, 0);
    transport_->script.dataIn[0] = 0x61; // qualifier 3, type 1
    EXPECT_EQ(GetDeviceType(0), 1);
}

TEST_F(ClassifyThroughApi, DescriptorSenseIsHandedOverInFixedFormat) {
    transport_->script.dataIn = {0x72, 0x06, 0x29, 0x00, 0, 0, 0, 0};
    SENSE_DATA sense{};
    ASSERT_EQ(RequestSense(0, &sense), 0u);
    const auto parsed = ParseSense(std::span<const std::uint8_t>(sense.bytes, sizeof sense.bytes));
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(sense.bytes[0], 0x70);
    EXPECT_EQ(parsed->senseKey, 0x06);
    EXPECT_EQ(parsed->asc, 0x29);
    EXPECT_EQ(parsed->ascq, 0x00);
}

TEST_F(ClassifyThroughApi, RequestSenseNeedsAtLeastTheHeader) {
    transport_->script.dataIn = {0x70, 0, 0x02, 0, 0, 0, 0};
    SENSE_DATA sense{};
    EXPECT_EQ(RequestSense(0, &sense), ZURVAX_STATUS_SHORT_TRANSFER);
    EXPECT_EQ(sense.bytes[0], 0);
}

TEST_F(ClassifyThroughApi, NullRecordsAreRefusedWithNothingSent) {
    EXPECT_EQ(ReadRawInquiryData(0, nullptr), ZURVAX_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(RequestSense(0, nullptr), ZURVAX_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(WriteBuffer(0, 2, 0, 0, 4, nullptr), ZURVAX_STATUS_INVALID_ARGUMENT);
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 4, nullptr), ZURVAX_STATUS_INVALID_ARGUMENT);
    EXPECT_TRUE(log.empty());
}

} // namespace
} // namespace zurvax::test

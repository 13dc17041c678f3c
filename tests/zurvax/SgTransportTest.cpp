// The SG_IO transport against a stand-in for the kernel: what reaches the ioctl for each
// operation, and how every kind of kernel answer becomes a library status.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "SenseBytes.h"
#include "TestSupport.h"
#include "zurvax/CommandTimeouts.h"
#include "zurvax/SgTransport_linux.h"
#include "zurvax/ZurvaxStatus.h"

namespace zurvax::test {
namespace {

using namespace std::chrono_literals;

struct FakeNode {
    int rdwrError = 0;   // errno of an O_RDWR open, 0 to succeed
    int rdonlyError = 0; // errno of an O_RDONLY open
    int idError = 0;     // errno of SG_GET_SCSI_ID
    sg_scsi_id id{};
    gid_t gid = 6;
};

// What one SG_IO call carried.
struct SentHeader {
    int fd = -1;
    int interfaceId = 0;
    int direction = 0;
    unsigned cmdLength = 0;
    std::vector<std::uint8_t> cdb;
    unsigned maxSense = 0;
    unsigned dxferLength = 0;
    unsigned timeout = 0;
    std::vector<std::uint8_t> dataOut;
};

// How the kernel answers one SG_IO call.
struct Reply {
    int error = 0;
    std::uint8_t status = kScsiGood;
    std::uint16_t host = kDidOk;
    std::uint16_t driver = kDriverOk;
    int resid = -1; // -1: for data-in, dxfer_len minus the bytes given; else 0
    std::vector<std::uint8_t> sense;
    std::vector<std::uint8_t> dataIn;
};

struct FakeKernel {
    std::map<std::string, FakeNode> nodes; // by name in the folder
    std::vector<std::string> extraNames;   // listed, never opened
    std::map<gid_t, std::string> groups{{6, "disk"}};
    std::vector<std::pair<std::string, int>> opens;
    std::map<int, std::string> openFds;
    std::vector<int> closes;
    std::vector<SentHeader> sent;
    std::deque<Reply> replies; // answered in turn; GOOD with no data when empty
    int nextFd = 30;
};

class FakeSgSystem final : public SgSystem {
public:
    explicit FakeSgSystem(std::shared_ptr<FakeKernel> kernel) : k_(std::move(kernel)) {}

    std::vector<std::string> listSgNames(const std::string& folder) override {
        EXPECT_EQ(folder, "/dev");
        std::vector<std::string> names = k_->extraNames;
        for (const auto& [name, node] : k_->nodes)
            names.push_back(name);
        // The order the folder gives is no order at all.
        std::reverse(names.begin(), names.end());
        return names;
    }
    SgOpenResult open(const std::string& path, int flags) override {
        k_->opens.emplace_back(path, flags);
        const FakeNode* node = find(path);
        if (node == nullptr)
            return {-1, ENOENT};
        const int error = (flags & O_ACCMODE) == O_RDWR ? node->rdwrError : node->rdonlyError;
        if (error != 0)
            return {-1, error};
        const int fd = k_->nextFd++;
        k_->openFds[fd] = path;
        return {fd, 0};
    }
    void close(int fd) override { k_->closes.push_back(fd); }
    int sgIo(int fd, sg_io_hdr_t& header) override {
        SentHeader sent;
        sent.fd = fd;
        sent.interfaceId = header.interface_id;
        sent.direction = header.dxfer_direction;
        sent.cmdLength = header.cmd_len;
        sent.cdb.assign(header.cmdp, header.cmdp + header.cmd_len);
        sent.maxSense = header.mx_sb_len;
        sent.dxferLength = header.dxfer_len;
        sent.timeout = header.timeout;
        if (header.dxfer_direction == SG_DXFER_TO_DEV) {
            const auto* data = static_cast<const std::uint8_t*>(header.dxferp);
            sent.dataOut.assign(data, data + header.dxfer_len);
        }
        k_->sent.push_back(sent);

        Reply reply;
        if (!k_->replies.empty()) {
            reply = k_->replies.front();
            k_->replies.pop_front();
        }
        if (reply.error != 0)
            return reply.error;
        std::size_t copied = 0;
        if (header.dxfer_direction == SG_DXFER_FROM_DEV) {
            copied = std::min<std::size_t>(reply.dataIn.size(), header.dxfer_len);
            std::copy_n(reply.dataIn.begin(), copied, static_cast<std::uint8_t*>(header.dxferp));
        }
        header.status = reply.status;
        header.masked_status = static_cast<unsigned char>((reply.status >> 1) & 0x7F);
        header.host_status = reply.host;
        header.driver_status = reply.driver;
        const bool dataIn = header.dxfer_direction == SG_DXFER_FROM_DEV;
        header.resid = reply.resid >= 0 ? reply.resid
                       : dataIn         ? static_cast<int>(header.dxfer_len - copied)
                                        : 0;
        const std::size_t sense = std::min<std::size_t>(reply.sense.size(), header.mx_sb_len);
        std::copy_n(reply.sense.begin(), sense, header.sbp);
        header.sb_len_wr = static_cast<unsigned char>(sense);
        return 0;
    }
    int getScsiId(int fd, sg_scsi_id& id) override {
        const FakeNode* node = find(k_->openFds.at(fd));
        if (node->idError != 0)
            return node->idError;
        id = node->id;
        return 0;
    }
    std::optional<gid_t> nodeGroup(const std::string& path) override {
        const FakeNode* node = find(path);
        if (node == nullptr)
            return std::nullopt;
        return node->gid;
    }
    std::optional<std::string> groupName(gid_t gid) override {
        const auto it = k_->groups.find(gid);
        if (it == k_->groups.end())
            return std::nullopt;
        return it->second;
    }

private:
    const FakeNode* find(const std::string& path) const {
        const std::string prefix = "/dev/";
        if (path.rfind(prefix, 0) != 0)
            return nullptr;
        const auto it = k_->nodes.find(path.substr(prefix.size()));
        return it == k_->nodes.end() ? nullptr : &it->second;
    }
    std::shared_ptr<FakeKernel> k_;
};

FakeNode Tape(int host, int target, int lun, int type = 1) {
    FakeNode node;
    node.id.host_no = host;
    node.id.scsi_id = target;
    node.id.lun = lun;
    node.id.scsi_type = type;
    return node;
}

Reply CheckCondition(std::vector<std::uint8_t> sense) {
    Reply reply;
    reply.status = kScsiCheckCondition;
    reply.driver = kDriverSense;
    reply.sense = std::move(sense);
    return reply;
}

Reply Host(std::uint16_t host) {
    Reply reply;
    reply.host = host;
    return reply;
}

Reply Errno(int error) {
    Reply reply;
    reply.error = error;
    return reply;
}

class SgTransportTest : public LibraryTest {
protected:
    std::shared_ptr<FakeKernel> kernel = std::make_shared<FakeKernel>();

    // Makes a transport over the fake kernel the library's source.
    void open() {
        UseTransport(std::make_unique<SgTransport>(std::make_unique<FakeSgSystem>(kernel)));
    }

    std::string openMessage() {
        char message[512] = "untouched";
        EXPECT_EQ(ZurvaxOpen(message, sizeof message), 0u);
        return message;
    }

    const SentHeader& last() const { return kernel->sent.back(); }
};

TEST_F(SgTransportTest, NodesAreDeviceIndexesInNumericOrder) {
    kernel->nodes["sg10"] = Tape(4, 10, 0);
    kernel->nodes["sg2"] = Tape(2, 2, 0);
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    kernel->nodes["sg9"] = Tape(3, 9, 0);
    kernel->nodes["sg1"] = Tape(1, 1, 0);
    kernel->extraNames = {"sg", "sgx", "sg1a", "sg-3"};
    auto transport = std::make_unique<SgTransport>(std::make_unique<FakeSgSystem>(kernel));
    ASSERT_EQ(transport->deviceCount(), 5u);
    const std::vector<std::string> expected = {"/dev/sg0", "/dev/sg1", "/dev/sg2", "/dev/sg9",
                                               "/dev/sg10"};
    for (std::uint32_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(transport->nodePath(i), expected[i]);
    UseTransport(std::move(transport));

    const std::vector<std::array<int, 3>> paths = {
        {0, 0, 0}, {1, 1, 0}, {2, 2, 0}, {3, 9, 0}, {4, 10, 0}};
    for (std::uint32_t i = 0; i < paths.size(); ++i) {
        const SCSI_PATH path = GetScsiPath(i);
        EXPECT_EQ(path.bytes[0], 0);
        EXPECT_EQ(path.bytes[1], paths[i][0]) << i;
        EXPECT_EQ(path.bytes[2], paths[i][1]) << i;
        EXPECT_EQ(path.bytes[3], paths[i][2]) << i;
    }
    // Only the numbered nodes were ever opened.
    for (const auto& [path, flags] : kernel->opens) {
        EXPECT_TRUE(path == "/dev/sg0" || path == "/dev/sg1" || path == "/dev/sg2" ||
                    path == "/dev/sg9" || path == "/dev/sg10")
            << path;
    }
}

TEST_F(SgTransportTest, PathTakesHostTargetAndLunFromTheKernel) {
    FakeNode node = Tape(7, 5, 3);
    node.id.channel = 9;
    kernel->nodes["sg0"] = node;
    open();
    const SCSI_PATH path = GetScsiPath(0);
    EXPECT_EQ(path.bytes[0], 0);
    EXPECT_EQ(path.bytes[1], 7);
    EXPECT_EQ(path.bytes[2], 5);
    EXPECT_EQ(path.bytes[3], 3);
}

TEST_F(SgTransportTest, NodesAreOpenedReadWriteAndKeptOpenUntilTheEnd) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    kernel->nodes["sg1"] = Tape(0, 1, 0);
    {
        SgTransport transport(std::make_unique<FakeSgSystem>(kernel));
        ASSERT_EQ(kernel->opens.size(), 2u);
        for (const auto& [path, flags] : kernel->opens) {
            EXPECT_EQ(flags & O_ACCMODE, O_RDWR) << path;
            EXPECT_NE(flags & O_NONBLOCK, 0) << path;
        }
        EXPECT_TRUE(kernel->closes.empty());
        // Commands use the descriptors opened while enumerating.
        std::array<std::uint8_t, 6> cdb{};
        ScsiCommand command(cdb, 1s);
        transport.execute(1, command);
        transport.execute(0, command);
        ASSERT_EQ(kernel->sent.size(), 2u);
        EXPECT_EQ(kernel->openFds.at(kernel->sent[0].fd), "/dev/sg1");
        EXPECT_EQ(kernel->openFds.at(kernel->sent[1].fd), "/dev/sg0");
        EXPECT_TRUE(kernel->closes.empty());
    }
    std::vector<int> opened;
    for (const auto& [fd, path] : kernel->openFds)
        opened.push_back(fd);
    std::sort(kernel->closes.begin(), kernel->closes.end());
    EXPECT_EQ(kernel->closes, opened);
}

TEST_F(SgTransportTest, ReadOnlyWhereReadWriteIsRefused) {
    FakeNode node = Tape(0, 0, 0);
    node.rdwrError = EACCES;
    kernel->nodes["sg0"] = node;
    open();
    ASSERT_EQ(kernel->opens.size(), 2u);
    EXPECT_EQ(kernel->opens[1].second & O_ACCMODE, O_RDONLY);
    EXPECT_NE(kernel->opens[1].second & O_NONBLOCK, 0);
    EXPECT_EQ(openMessage(), "") << "a usable device needs no warning";

    std::vector<std::uint8_t> inquiry(36, 0);
    inquiry[0] = 1;
    Reply answer;
    answer.dataIn = inquiry;
    kernel->replies = {answer, Errno(EPERM)};
    EXPECT_EQ(GetDeviceType(0), 1);
    // The kernel wants a read-write descriptor (or CAP_SYS_RAWIO) for WRITE BUFFER.
    std::uint8_t data[4] = {1, 2, 3, 4};
    EXPECT_EQ(WriteBuffer(0, 2, 0, 0, sizeof data, data), ZURVAX_STATUS_PERMISSION_DENIED);
}

TEST_F(SgTransportTest, EachOperationSendsItsCdbDirectionLengthAndTimeout) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();

    INQUIRY_DATA inquiry{};
    Reply inquiryAnswer;
    inquiryAnswer.dataIn.assign(36, 0x20);
    inquiryAnswer.dataIn[0] = 1;
    kernel->replies = {inquiryAnswer};
    ASSERT_EQ(ReadRawInquiryData(0, &inquiry), 0u);
    EXPECT_EQ(last().cdb, (std::vector<std::uint8_t>{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(last().direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(last().dxferLength, 36u);
    EXPECT_EQ(last().timeout, 10'000u);

    ASSERT_EQ(TestUnitReady(0), 0u);
    EXPECT_EQ(last().cdb, (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(last().direction, SG_DXFER_NONE);
    EXPECT_EQ(last().dxferLength, 0u);
    EXPECT_EQ(last().timeout, 60'000u);

    SENSE_DATA sense{};
    Reply senseAnswer;
    senseAnswer.dataIn = FixedSense(0, 0, 0);
    kernel->replies = {senseAnswer};
    ASSERT_EQ(RequestSense(0, &sense), 0u);
    EXPECT_EQ(last().cdb, (std::vector<std::uint8_t>{0x03, 0, 0, 0, 18, 0}));
    EXPECT_EQ(last().direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(last().dxferLength, 18u);
    EXPECT_EQ(last().timeout, 10'000u);

    std::vector<std::uint8_t> chunk(8192);
    for (std::size_t i = 0; i < chunk.size(); ++i)
        chunk[i] = static_cast<std::uint8_t>(i * 13);
    ASSERT_EQ(WriteBuffer(0, 2, 0, 0x12000, static_cast<std::uint32_t>(chunk.size()), chunk.data()),
              0u);
    EXPECT_EQ(last().cdb,
              (std::vector<std::uint8_t>{0x3B, 2, 0, 0x01, 0x20, 0x00, 0x00, 0x20, 0x00, 0}));
    EXPECT_EQ(last().direction, SG_DXFER_TO_DEV);
    EXPECT_EQ(last().dxferLength, 8192u);
    EXPECT_EQ(last().dataOut, chunk);
    EXPECT_EQ(last().timeout, 60'000u);

    Reply readAnswer;
    readAnswer.dataIn = chunk;
    kernel->replies = {readAnswer};
    std::vector<std::uint8_t> back(8192);
    ASSERT_EQ(ReadBuffer(0, 2, 0, 0x12000, static_cast<std::uint32_t>(back.size()), back.data()),
              0u);
    EXPECT_EQ(back, chunk);
    EXPECT_EQ(last().cdb,
              (std::vector<std::uint8_t>{0x3C, 2, 0, 0x01, 0x20, 0x00, 0x00, 0x20, 0x00, 0}));
    EXPECT_EQ(last().direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(last().dxferLength, 8192u);
    EXPECT_EQ(last().timeout, 60'000u);

    ASSERT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), 0u);
    EXPECT_EQ(last().cdb, (std::vector<std::uint8_t>{0x3B, 5, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(last().direction, SG_DXFER_NONE);
    EXPECT_EQ(last().dxferLength, 0u);
    EXPECT_EQ(last().timeout, 300'000u);

    Reply serialAnswer;
    serialAnswer.dataIn = {0x01, 0x80, 0x00, 0x06, 'K', '4', '7', '0', ' ', ' '};
    kernel->replies = {serialAnswer};
    char serial[SERIAL_NUMBER_SIZE] = {};
    ASSERT_EQ(ReadSerialNumber(0, serial, sizeof serial), 0u);
    EXPECT_EQ(std::string(serial), "K470");
    EXPECT_EQ(last().cdb, (std::vector<std::uint8_t>{0x12, 0x01, 0x80, 0, 255, 0}));
    EXPECT_EQ(last().direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(last().dxferLength, 255u);
    EXPECT_EQ(last().timeout, 10'000u);

    ASSERT_EQ(kernel->sent.size(), 7u);
    for (const SentHeader& sent : kernel->sent) {
        EXPECT_EQ(sent.interfaceId, 'S');
        EXPECT_EQ(sent.cmdLength, sent.cdb.size());
        EXPECT_EQ(sent.cmdLength, sent.cdb[0] >= 0x20 ? 10u : 6u);
        EXPECT_EQ(sent.maxSense, kSgSenseBufferSize);
    }
}

// A claim holds st's node of the same host, channel, target and LUN, found in a sysfs tree
// of the test's own.
TEST_F(SgTransportTest, ClaimHoldsTheTapeNodeOfTheSameUnit) {
    const auto sysfs = scratch("sys");
    for (const auto& [unit, names] : std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"2:1:5:0", {"st0", "st0l", "nst0a", "nst0l", "nst0", "st0a"}},
             {"2:0:5:0", {"nst9"}}}) {
        const auto folder = sysfs / "bus" / "scsi" / "devices" / unit / "scsi_tape";
        std::filesystem::create_directories(folder);
        for (const auto& name : names)
            std::ofstream(folder / name).put('\n');
    }
    struct Case {
        const char* name;
        std::optional<int> openError; // nullopt: no /dev/nst0
        std::uint32_t status;
    };
    for (const Case& c :
         {Case{"free", 0, 0}, Case{"held by another program", EBUSY, ZURVAX_STATUS_DEVICE_IN_USE},
          Case{"not for this user", EACCES, ZURVAX_STATUS_PERMISSION_DENIED},
          Case{"no node in the folder", std::nullopt, 0}}) {
        SCOPED_TRACE(c.name);
        kernel = std::make_shared<FakeKernel>();
        FakeNode drive = Tape(2, 5, 0);
        drive.id.channel = 1;
        kernel->nodes["sg0"] = drive;
        kernel->nodes["sg1"] = Tape(3, 0, 0); // st has not attached to this one
        if (c.openError)
            kernel->nodes["nst0"].rdonlyError = *c.openError;
        UseTransport(std::make_unique<SgTransport>(std::make_unique<FakeSgSystem>(kernel), "/dev",
                                                   sysfs.string()));
        const std::size_t opens = kernel->opens.size();

        EXPECT_EQ(ClaimDevice(0), c.status);
        ASSERT_EQ(kernel->opens.size(), opens + 1);
        EXPECT_EQ(kernel->opens.back(),
                  std::make_pair(std::string("/dev/nst0"), O_RDONLY | O_NONBLOCK));
        const bool held = c.openError == 0;
        if (held) {
            EXPECT_EQ(ClaimDevice(0), ZURVAX_STATUS_DEVICE_IN_USE) << "already ours";
        }
        EXPECT_EQ(ReleaseDevice(0), 0u);
        EXPECT_EQ(kernel->closes.size(), held ? 1u : 0u);

        EXPECT_EQ(ClaimDevice(1), 0u);
        EXPECT_EQ(kernel->opens.size(), opens + 1) << "nothing to hold";
    }
    // The nodes the record names are the ones the commands and the claim use.
    DEVICE_NODES nodes = {};
    ASSERT_EQ(GetDeviceNodes(0, &nodes), 0u);
    EXPECT_STREQ(nodes.passThrough, "/dev/sg0");
    EXPECT_STREQ(nodes.tape, "/dev/nst0");
    ASSERT_EQ(GetDeviceNodes(1, &nodes), 0u);
    EXPECT_STREQ(nodes.passThrough, "/dev/sg1");
    EXPECT_STREQ(nodes.tape, "") << "st has not attached to it";
    EXPECT_EQ(GetDeviceNodes(2, &nodes), END_OF_DEVICE_LIST);
    EXPECT_EQ(GetDeviceNodes(0, nullptr), ZURVAX_STATUS_INVALID_ARGUMENT);
}

TEST_F(SgTransportTest, TimeoutsFollowTheCdbButNeverExceedTheCommandsOwn) {
    const auto timeoutOf = [](std::vector<std::uint8_t> cdb, std::chrono::milliseconds own) {
        ScsiCommand command(cdb, own);
        return PassThroughTimeout(command);
    };
    for (const std::uint8_t mode : {0x04, 0x05, 0x06, 0x07, 0x0D, 0x0E, 0x0F, 0xE5}) {
        EXPECT_EQ(timeoutOf({0x3B, mode, 0, 0, 0, 0, 0, 0, 0, 0}, 600s), 300s) << int{mode};
    }
    for (const std::uint8_t mode : {0x00, 0x01, 0x02, 0x0A, 0x1C}) {
        EXPECT_EQ(timeoutOf({0x3B, mode, 0, 0, 0, 0, 0, 0, 0, 0}, 600s), 60s) << int{mode};
        EXPECT_EQ(timeoutOf({0x3C, mode, 0, 0, 0, 0, 0, 0, 0, 0}, 600s), 60s) << int{mode};
    }
    for (const std::uint8_t op : {0x00, 0x03, 0x12})
        EXPECT_EQ(timeoutOf({op, 0, 0, 0, 0, 0}, 600s), 60s);
    EXPECT_EQ(timeoutOf({0x3B, 5, 0, 0, 0, 0, 0, 0, 0, 0}, 90s), 90s);
    EXPECT_EQ(timeoutOf({0x12, 0, 0, 0, 36, 0}, 10s), 10s);
    EXPECT_EQ(timeoutOf({0x1A, 0, 0, 0, 0, 0}, 42s), 42s) << "an unknown command keeps its own";
}

TEST_F(SgTransportTest, FixedAndDescriptorSenseReachTheClassifier) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();
    std::vector<std::uint8_t> buffer(16, 0xAB);

    kernel->replies = {CheckCondition(FixedSense(5, 0x20, 0x00))};
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 16, buffer.data()), 0x2000u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(16, 0xAB)) << "a failed read leaves the buffer";

    kernel->replies = {CheckCondition(DescriptorSense(5, 0x26, 0x00))};
    EXPECT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), 0x2600u);

    kernel->replies = {CheckCondition(DescriptorSense(6, 0x29, 0x00))};
    EXPECT_EQ(TestUnitReady(0), 0x2900u);

    kernel->replies = {CheckCondition(FixedSense(2, 0x04, 0x01))};
    EXPECT_EQ(TestUnitReady(0), 0x0401u);

    kernel->replies = {CheckCondition({})};
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE);

    kernel->replies = {CheckCondition(FixedSense(5, 0, 0))};
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_CHECK_CONDITION_NO_ASC);
}

TEST_F(SgTransportTest, ScsiStatusesOtherThanCheckCondition) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();
    Reply busy;
    busy.status = kScsiBusy;
    Reply conflict;
    conflict.status = kScsiReservationConflict;
    Reply full;
    full.status = kScsiTaskSetFull;
    kernel->replies = {busy, conflict, full};
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_BUSY);
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_RESERVATION_CONFLICT);
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_OTHER_SCSI_STATUS);
}

TEST_F(SgTransportTest, TimeoutsFromHostOrDriver) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();
    Reply driverTimeout;
    driverTimeout.driver = kDriverTimeout;
    kernel->replies = {Host(kDidTimeOut), driverTimeout, Errno(ETIMEDOUT)};
    EXPECT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), ZURVAX_STATUS_TIMEOUT);
    EXPECT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), ZURVAX_STATUS_TIMEOUT);
    EXPECT_EQ(WriteBuffer(0, 5, 0, 0, 0, nullptr), ZURVAX_STATUS_TIMEOUT);
}

TEST_F(SgTransportTest, HostStatusesBecomeNoDeviceOrTransportError) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();
    const std::vector<std::pair<std::uint16_t, std::uint32_t>> cases = {
        {kDidNoConnect, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {kDidBadTarget, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {kDidBusBusy, ZURVAX_STATUS_TRANSPORT_ERROR},
        {kDidReset, ZURVAX_STATUS_TRANSPORT_ERROR},
        {kDidAbort, ZURVAX_STATUS_TRANSPORT_ERROR},
        {kDidError, ZURVAX_STATUS_TRANSPORT_ERROR},
        {kDidParity, ZURVAX_STATUS_TRANSPORT_ERROR},
        {0x0E, ZURVAX_STATUS_TRANSPORT_ERROR},
    };
    for (const auto& [host, status] : cases) {
        // Host trouble outranks whatever status and sense came with it.
        Reply reply = CheckCondition(FixedSense(6, 0x29, 0));
        reply.host = host;
        kernel->replies = {reply};
        EXPECT_EQ(TestUnitReady(0), status) << host;
    }
    Reply driverError;
    driverError.driver = 0x04;
    kernel->replies = {driverError};
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_TRANSPORT_ERROR);
}

TEST_F(SgTransportTest, IoctlErrorsByErrno) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();
    const std::vector<std::pair<int, std::uint32_t>> cases = {
        {ENODEV, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {ENXIO, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {EACCES, ZURVAX_STATUS_PERMISSION_DENIED},
        {EPERM, ZURVAX_STATUS_PERMISSION_DENIED},
        {EIO, ZURVAX_STATUS_OS_ERROR},
        {ENOMEM, ZURVAX_STATUS_OS_ERROR},
        {EINTR, ZURVAX_STATUS_OS_ERROR},
        {EINVAL, ZURVAX_STATUS_OS_ERROR},
    };
    for (const auto& [error, status] : cases) {
        kernel->replies = {Errno(error)};
        EXPECT_EQ(TestUnitReady(0), status) << error;
    }
    EXPECT_EQ(kernel->sent.size(), cases.size());
}

TEST_F(SgTransportTest, ResidualOnDataInIsAShortTransfer) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();
    std::vector<std::uint8_t> buffer(64, 0x5A);
    Reply shortRead;
    shortRead.dataIn.assign(40, 1);
    kernel->replies = {shortRead};
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 64, buffer.data()), ZURVAX_STATUS_SHORT_TRANSFER);
    EXPECT_EQ(buffer[0], 0x5A);

    Reply shortInquiry;
    shortInquiry.dataIn.assign(36, 0x20);
    shortInquiry.resid = 4;
    kernel->replies = {shortInquiry};
    INQUIRY_DATA inquiry{};
    EXPECT_EQ(ReadRawInquiryData(0, &inquiry), ZURVAX_STATUS_SHORT_TRANSFER);

    // REQUEST SENSE needs only the first eight bytes.
    Reply shortSense;
    shortSense.dataIn = FixedSense(6, 0x29, 0);
    shortSense.dataIn.resize(14);
    kernel->replies = {shortSense};
    SENSE_DATA sense{};
    EXPECT_EQ(RequestSense(0, &sense), 0u);
    EXPECT_EQ(sense.bytes[12], 0x29);

    Reply full;
    full.dataIn.assign(64, 7);
    kernel->replies = {full};
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 64, buffer.data()), 0u);
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(64, 7));
}

TEST_F(SgTransportTest, ResidualOnDataOutIsAShortTransfer) {
    kernel->nodes["sg0"] = Tape(0, 0, 0);
    open();
    Reply partial;
    partial.resid = 100;
    kernel->replies = {partial};
    std::vector<std::uint8_t> data(512, 3);
    EXPECT_EQ(WriteBuffer(0, 2, 0, 0, 512, data.data()), ZURVAX_STATUS_SHORT_TRANSFER);
}

TEST_F(SgTransportTest, UnopenableNodeCountsButEveryCommandIsDenied) {
    FakeNode node = Tape(0, 0, 0);
    node.rdwrError = EACCES;
    node.rdonlyError = EACCES;
    kernel->nodes["sg0"] = node;
    open();
    const std::string message = openMessage();
    EXPECT_NE(message.find("/dev/sg0"), std::string::npos) << message;
    EXPECT_NE(message.find("root"), std::string::npos) << message;
    EXPECT_NE(message.find("\"disk\""), std::string::npos) << message;
    EXPECT_NE(message.find("udev rule gives KMR-47000 drives to the group \"" +
                           std::string(zurvax::kRuleGroup) + "\"."),
              std::string::npos)
        << message;

    INQUIRY_DATA inquiry{};
    EXPECT_EQ(ReadRawInquiryData(0, &inquiry), ZURVAX_STATUS_PERMISSION_DENIED);
    EXPECT_EQ(ReadRawInquiryData(1, &inquiry), static_cast<std::uint32_t>(END_OF_DEVICE_LIST));
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_PERMISSION_DENIED);
    SENSE_DATA sense{};
    EXPECT_EQ(RequestSense(0, &sense), ZURVAX_STATUS_PERMISSION_DENIED);
    std::uint8_t data[8] = {};
    EXPECT_EQ(WriteBuffer(0, 2, 0, 0, 8, data), ZURVAX_STATUS_PERMISSION_DENIED);
    EXPECT_EQ(ReadBuffer(0, 2, 0, 0, 8, data), ZURVAX_STATUS_PERMISSION_DENIED);
    EXPECT_TRUE(kernel->sent.empty());
}

TEST_F(SgTransportTest, WarningNamesEveryOwningGroupOnce) {
    for (const char* name : {"sg0", "sg1", "sg2", "sg3"}) {
        FakeNode node = Tape(0, 0, 0);
        node.rdwrError = EACCES;
        node.rdonlyError = EPERM;
        node.gid = name[2] == '3' ? 33 : (name[2] == '2' ? 4242 : 6);
        kernel->nodes[name] = node;
    }
    kernel->groups[33] = zurvax::kRuleGroup;
    open();
    const std::string message = openMessage();
    EXPECT_NE(message.find("/dev/sg0 and 3 more"), std::string::npos) << message;
    const std::string groups =
        "\"disk\", with id 4242 or \"" + std::string(zurvax::kRuleGroup) + "\".";
    EXPECT_NE(message.find(groups), std::string::npos) << message;
    EXPECT_EQ(message.find("udev"), std::string::npos)
        << "a node of the rule's group needs no hint: " << message;
}

TEST_F(SgTransportTest, NoWarningWhenOneNodeOpens) {
    FakeNode denied = Tape(0, 0, 0);
    denied.rdwrError = EACCES;
    denied.rdonlyError = EACCES;
    kernel->nodes["sg0"] = denied;
    kernel->nodes["sg1"] = Tape(1, 0, 0);
    open();
    EXPECT_EQ(openMessage(), "");
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_PERMISSION_DENIED);
    EXPECT_EQ(TestUnitReady(1), 0u);
    EXPECT_EQ(GetScsiPath(1).bytes[1], 1);
}

TEST_F(SgTransportTest, NoWarningWithoutNodes) {
    open();
    EXPECT_EQ(openMessage(), "");
    EXPECT_EQ(GetDeviceType(0), NO_DEVICE_TYPE);
    INQUIRY_DATA inquiry{};
    EXPECT_EQ(ReadRawInquiryData(0, &inquiry), static_cast<std::uint32_t>(END_OF_DEVICE_LIST));
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_NO_SUCH_DEVICE);
}

TEST_F(SgTransportTest, NodesWithoutADeviceAreNoDevices) {
    FakeNode gone = Tape(0, 0, 0);
    gone.rdwrError = ENXIO;
    kernel->nodes["sg0"] = gone;
    FakeNode notSg = Tape(0, 0, 0);
    notSg.idError = ENOTTY;
    kernel->nodes["sg1"] = notSg;
    FakeNode busy = Tape(0, 0, 0);
    busy.rdwrError = EBUSY;
    kernel->nodes["sg2"] = busy;
    kernel->nodes["sg3"] = Tape(3, 1, 0);
    auto transport = std::make_unique<SgTransport>(std::make_unique<FakeSgSystem>(kernel));
    ASSERT_EQ(transport->deviceCount(), 2u);
    EXPECT_EQ(transport->nodePath(0), "/dev/sg2");
    EXPECT_EQ(transport->nodePath(1), "/dev/sg3");
    // The descriptor of the node that is no SCSI generic device is not kept.
    ASSERT_EQ(kernel->closes.size(), 1u);
    EXPECT_EQ(kernel->openFds.at(kernel->closes[0]), "/dev/sg1");
    UseTransport(std::move(transport));
    EXPECT_EQ(openMessage(), "") << "a busy node is no permission problem";
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_OS_ERROR);
    EXPECT_EQ(TestUnitReady(1), 0u);
}

TEST_F(SgTransportTest, EnumeratedTypeStandsInWhenInquiryFails) {
    kernel->nodes["sg0"] = Tape(0, 0, 0, 8);
    open();
    kernel->replies = {Host(kDidError)};
    EXPECT_EQ(GetDeviceType(0), 8);
    std::vector<std::uint8_t> inquiry(36, 0);
    inquiry[0] = 0x01;
    Reply answer;
    answer.dataIn = inquiry;
    kernel->replies = {answer};
    EXPECT_EQ(GetDeviceType(0), 1) << "INQUIRY's type comes first";
}

// The real system calls, on a scratch folder of plain files standing in for /dev.
class RealSgSystemTest : public LibraryTest {};

TEST_F(RealSgSystemTest, ListsOnlySgNamesAndFindsTheOwningGroup) {
    for (const char* name : {"sg0", "sg12", "sda", "tty0", "sgx"})
        std::ofstream(scratch(name)) << "x";
    auto system = MakeSgSystem();
    auto names = system->listSgNames(scratch("").parent_path().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"sg0", "sg12", "sgx"}));
    EXPECT_EQ(system->nodeGroup(scratch("sg0").string()), getegid());
    EXPECT_FALSE(system->nodeGroup(scratch("missing").string()).has_value());
    EXPECT_EQ(system->groupName(0), std::optional<std::string>("root"));
}

TEST_F(RealSgSystemTest, PlainFilesAreNoScsiGenericDevices) {
    auto system = MakeSgSystem();
    std::ofstream(scratch("sg0")) << "x";
    const SgOpenResult opened = system->open(scratch("sg0").string(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(opened.fd, 0) << opened.error;
    sg_scsi_id id{};
    EXPECT_EQ(system->getScsiId(opened.fd, id), ENOTTY);
    sg_io_hdr_t header{};
    header.interface_id = 'S';
    EXPECT_NE(system->sgIo(opened.fd, header), 0);
    system->close(opened.fd);
    EXPECT_EQ(system->open(scratch("missing").string(), O_RDONLY).error, ENOENT);

    SgTransport transport(MakeSgSystem(), scratch("").parent_path().string());
    EXPECT_EQ(transport.deviceCount(), 0u);
    EXPECT_EQ(transport.describe(), "");
}

} // namespace
} // namespace zurvax::test

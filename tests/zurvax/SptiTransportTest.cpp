// The SPTI transport against a stand-in for the Win32 device calls: what it opens, the
// pass-through structures it sends, and how their answers become library statuses.
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zurvax/Cdb.h"
#include "zurvax/Classify.h"
#include "zurvax/CommandTimeouts.h"
#include "zurvax/Operations.h"
#include "zurvax/SptiTransport_win32.h"
#include "zurvax/Zurvax.h"
#include "zurvax/ZurvaxApi.h"
#include "zurvax/ZurvaxStatus.h"

#include "SenseBytes.h"

namespace zurvax::test {
namespace {

// One unit as an adapter lists it in its inquiry data.
struct Unit {
    std::uint8_t pathId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
    std::uint8_t inquiry0 = 0; // peripheral qualifier and device type
    bool claimed = false;
};

// A SCSI_ADAPTER_BUS_INFO buffer as a port driver lays it out: the bus table, then each
// bus's chain of SCSI_INQUIRY_DATA entries in the order given.
std::vector<std::uint8_t> AdapterInquiryData(std::uint8_t buses, const std::vector<Unit>& units) {
    const std::size_t busBase = offsetof(SCSI_ADAPTER_BUS_INFO, BusData);
    const std::size_t header = offsetof(SCSI_INQUIRY_DATA, InquiryData);
    const std::size_t inquiryLength = 36;
    const std::size_t entrySize = (header + inquiryLength + 7) & ~std::size_t{7};
    std::vector<std::uint8_t> data(busBase + buses * sizeof(SCSI_BUS_DATA), 0);
    data[0] = buses;
    for (std::uint8_t bus = 0; bus < buses; ++bus) {
        std::size_t previous = 0;
        std::uint8_t count = 0;
        SCSI_BUS_DATA busData{};
        for (const Unit& unit : units) {
            if (unit.pathId != bus)
                continue;
            const std::size_t at = (data.size() + 7) & ~std::size_t{7};
            data.resize(at + entrySize, 0);
            SCSI_INQUIRY_DATA entry{};
            entry.PathId = unit.pathId;
            entry.TargetId = unit.targetId;
            entry.Lun = unit.lun;
            entry.DeviceClaimed = unit.claimed ? TRUE : FALSE;
            entry.InquiryDataLength = inquiryLength;
            entry.NextInquiryDataOffset = 0;
            std::memcpy(data.data() + at, &entry, header);
            data[at + header] = unit.inquiry0;
            if (previous == 0) {
                busData.InquiryDataOffset = static_cast<ULONG>(at);
            } else {
                const ULONG next = static_cast<ULONG>(at);
                std::memcpy(data.data() + previous +
                                offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset),
                            &next, sizeof next);
            }
            previous = at;
            ++count;
        }
        busData.NumberOfLogicalUnits = count;
        std::memcpy(data.data() + busBase + bus * sizeof(SCSI_BUS_DATA), &busData, sizeof busData);
    }
    return data;
}

// What the device does with one pass-through request.
struct Answer {
    DWORD error = 0; // non-zero: DeviceIoControl fails with this error
    UCHAR status = kScsiGood;
    std::vector<std::uint8_t> dataIn;
    std::optional<ULONG> transferred; // default: all of dataIn, or all data out
    std::vector<std::uint8_t> sense;
};

// One pass-through request as the fake OS received it. A buffered request
// (IOCTL_SCSI_PASS_THROUGH) is recorded in the direct layout: DataBuffer then points at
// the data inside the request, dataOffset says where that is.
struct Sent {
    std::string path;
    std::uint32_t code = 0;
    std::uint32_t inSize = 0;
    std::uint32_t outSize = 0;
    bool sameBuffer = false;
    std::size_t dataOffset = 0;
    SCSI_PASS_THROUGH_DIRECT sptd{};
    std::vector<std::uint8_t> cdb;
    std::vector<std::uint8_t> dataOut;
};

struct Node {
    DWORD readWriteError = 0; // open read-write fails with this
    DWORD anyAccessError = 0; // open without access rights fails with this
    DWORD exclusiveError = 0; // an exclusive open fails with this (another program has it)
    std::optional<std::vector<std::uint8_t>> inquiryData;
    std::optional<ULONG> inquiryReturned; // size the driver claims, when not the data's size
    std::optional<ULONG> alignmentMask;
    std::optional<SCSI_ADDRESS> address; // none: IOCTL_SCSI_GET_ADDRESS is not supported
    DWORD directError = 0; // pass-through direct is refused with this, the device not asked
    std::function<Answer(const Sent&)> device;
};

class FakeOs final : public DeviceIo {
public:
    std::map<std::string, Node> nodes;
    std::vector<std::pair<std::string, bool>> opens;
    std::vector<std::string> exclusiveOpens;
    std::vector<Sent> sent;
    int openHandles = 0;

    DeviceHandleValue open(const std::string& path, bool readWrite) override {
        opens.emplace_back(path, readWrite);
        const auto found = nodes.find(path);
        if (found == nodes.end())
            return fail(ERROR_FILE_NOT_FOUND);
        const DWORD error = readWrite ? found->second.readWriteError : found->second.anyAccessError;
        if (error != 0)
            return fail(error);
        if (heldBy(path, true))
            return fail(ERROR_SHARING_VIOLATION);
        return add(path, readWrite, false);
    }

    DeviceHandleValue openExclusive(const std::string& path) override {
        exclusiveOpens.push_back(path);
        const auto found = nodes.find(path);
        if (found == nodes.end())
            return fail(ERROR_FILE_NOT_FOUND);
        if (found->second.exclusiveError != 0)
            return fail(found->second.exclusiveError);
        if (heldBy(path, false))
            return fail(ERROR_SHARING_VIOLATION);
        return add(path, true, true);
    }

    bool control(DeviceHandleValue handle, std::uint32_t code, void* in, std::uint32_t inSize,
                 void* out, std::uint32_t outSize, std::uint32_t& returned) override {
        returned = 0;
        const auto open = handles_.find(handle);
        if (open == handles_.end())
            return failed(ERROR_INVALID_HANDLE);
        Node& node = nodes[open->second.path];
        switch (code) {
        case IOCTL_SCSI_GET_INQUIRY_DATA: {
            if (!node.inquiryData)
                return failed(ERROR_INVALID_FUNCTION);
            const auto& data = *node.inquiryData;
            if (data.size() > outSize)
                return failed(ERROR_INSUFFICIENT_BUFFER);
            std::memcpy(out, data.data(), data.size());
            returned = node.inquiryReturned.value_or(static_cast<ULONG>(data.size()));
            return true;
        }
        case IOCTL_SCSI_GET_CAPABILITIES: {
            if (!node.alignmentMask || outSize < sizeof(IO_SCSI_CAPABILITIES)) {
                return failed(ERROR_INVALID_FUNCTION);
            }
            IO_SCSI_CAPABILITIES capabilities{};
            capabilities.Length = sizeof capabilities;
            capabilities.MaximumTransferLength = 0x100000;
            capabilities.AlignmentMask = *node.alignmentMask;
            std::memcpy(out, &capabilities, sizeof capabilities);
            returned = sizeof capabilities;
            return true;
        }
        case IOCTL_SCSI_GET_ADDRESS: {
            if (!node.address)
                return failed(ERROR_NOT_SUPPORTED);
            if (outSize < sizeof(SCSI_ADDRESS))
                return failed(ERROR_INVALID_FUNCTION);
            std::memcpy(out, &*node.address, sizeof(SCSI_ADDRESS));
            returned = sizeof(SCSI_ADDRESS);
            return true;
        }
        case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        case IOCTL_SCSI_PASS_THROUGH:
            return passThrough(open->second, node, code, in, inSize, out, outSize, returned);
        default:
            return failed(ERROR_INVALID_FUNCTION);
        }
    }

    void close(DeviceHandleValue handle) override {
        if (handles_.erase(handle) != 0)
            --openHandles;
        else
            ++badCloses;
    }

    std::uint32_t lastError() override { return lastError_; }

    int badCloses = 0;

    // Opens of a path, in either mode.
    std::size_t opened(const std::string& path) const {
        return static_cast<std::size_t>(std::count_if(
            opens.begin(), opens.end(), [&](const auto& o) { return o.first == path; }));
    }

private:
    struct OpenHandle {
        std::string path;
        bool readWrite = false;
        bool exclusive = false;
    };

    // Whether a handle of ours (only an exclusive one, when onlyExclusive) has path open.
    bool heldBy(const std::string& path, bool onlyExclusive) const {
        return std::any_of(handles_.begin(), handles_.end(), [&](const auto& open) {
            return open.second.path == path && (open.second.exclusive || !onlyExclusive);
        });
    }
    DeviceHandleValue add(const std::string& path, bool readWrite, bool exclusive) {
        const DeviceHandleValue handle = next_++;
        handles_[handle] = {path, readWrite, exclusive};
        ++openHandles;
        return handle;
    }

    DeviceHandleValue fail(DWORD error) {
        lastError_ = error;
        return kInvalidDeviceHandle;
    }
    bool failed(DWORD error) {
        lastError_ = error;
        return false;
    }

    bool passThrough(const OpenHandle& open, Node& node, std::uint32_t code, void* in,
                     std::uint32_t inSize, void* out, std::uint32_t outSize,
                     std::uint32_t& returned) {
        if (!open.readWrite)
            return failed(ERROR_ACCESS_DENIED);
        const bool buffered = code == IOCTL_SCSI_PASS_THROUGH;
        if (inSize < (buffered ? sizeof(SCSI_PASS_THROUGH) : sizeof(SCSI_PASS_THROUGH_DIRECT)))
            return failed(ERROR_INVALID_PARAMETER);
        Sent request;
        request.path = open.path;
        request.code = code;
        request.inSize = inSize;
        request.outSize = outSize;
        request.sameBuffer = in == out;
        SCSI_PASS_THROUGH spt{};
        if (buffered) {
            std::memcpy(&spt, in, sizeof spt);
            SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
            sptd.Length = spt.Length;
            sptd.PathId = spt.PathId;
            sptd.TargetId = spt.TargetId;
            sptd.Lun = spt.Lun;
            sptd.CdbLength = spt.CdbLength;
            sptd.SenseInfoLength = spt.SenseInfoLength;
            sptd.DataIn = spt.DataIn;
            sptd.DataTransferLength = spt.DataTransferLength;
            sptd.TimeOutValue = spt.TimeOutValue;
            sptd.SenseInfoOffset = spt.SenseInfoOffset;
            std::memcpy(sptd.Cdb, spt.Cdb, sizeof sptd.Cdb);
            request.dataOffset = spt.DataBufferOffset;
            // The data must lie inside both buffers, as the port driver checks.
            if (spt.DataTransferLength != 0 &&
                (spt.DataBufferOffset < sizeof spt ||
                 spt.DataBufferOffset + spt.DataTransferLength > std::min(inSize, outSize))) {
                return failed(ERROR_INVALID_PARAMETER);
            }
            sptd.DataBuffer = spt.DataTransferLength == 0
                                  ? nullptr
                                  : static_cast<std::uint8_t*>(in) + spt.DataBufferOffset;
        } else {
            std::memcpy(&request.sptd, in, sizeof request.sptd);
        }
        const SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
        request.cdb.assign(sptd.Cdb, sptd.Cdb + std::min<std::size_t>(sptd.CdbLength, 16));
        if (sptd.DataIn == SCSI_IOCTL_DATA_OUT && sptd.DataBuffer != nullptr) {
            const auto* bytes = static_cast<const std::uint8_t*>(sptd.DataBuffer);
            request.dataOut.assign(bytes, bytes + sptd.DataTransferLength);
        }
        sent.push_back(request);
        if (!buffered && node.directError != 0)
            return failed(node.directError);
        if (!node.device)
            return failed(ERROR_INVALID_FUNCTION);
        const Answer answer = node.device(request);
        if (answer.error != 0)
            return failed(answer.error);

        ULONG moved = sptd.DataTransferLength;
        if (sptd.DataIn == SCSI_IOCTL_DATA_IN) {
            moved =
                std::min<ULONG>(sptd.DataTransferLength, static_cast<ULONG>(answer.dataIn.size()));
            std::memcpy(buffered ? static_cast<std::uint8_t*>(out) + request.dataOffset
                                 : sptd.DataBuffer,
                        answer.dataIn.data(), moved);
        }
        const std::size_t senseRoom =
            sptd.SenseInfoOffset <= outSize
                ? std::min<std::size_t>(sptd.SenseInfoLength, outSize - sptd.SenseInfoOffset)
                : 0;
        const std::size_t senseCount = std::min(senseRoom, answer.sense.size());
        std::memcpy(static_cast<std::uint8_t*>(out) + sptd.SenseInfoOffset, answer.sense.data(),
                    senseCount);
        const ULONG transferred = answer.transferred.value_or(moved);
        if (buffered) {
            SCSI_PASS_THROUGH reply = spt;
            reply.ScsiStatus = answer.status;
            reply.DataTransferLength = transferred;
            reply.SenseInfoLength = static_cast<UCHAR>(senseCount);
            std::memcpy(out, &reply, sizeof reply);
            returned = static_cast<std::uint32_t>(std::max<std::size_t>(
                sptd.SenseInfoOffset + senseCount,
                request.dataOffset + (sptd.DataIn == SCSI_IOCTL_DATA_IN ? moved : 0)));
        } else {
            SCSI_PASS_THROUGH_DIRECT reply = sptd;
            reply.ScsiStatus = answer.status;
            reply.DataTransferLength = transferred;
            reply.SenseInfoLength = static_cast<UCHAR>(senseCount);
            std::memcpy(out, &reply, sizeof reply);
            returned = static_cast<std::uint32_t>(sptd.SenseInfoOffset + senseCount);
        }
        return true;
    }

    std::map<DeviceHandleValue, OpenHandle> handles_;
    DeviceHandleValue next_ = 0x100;
    DWORD lastError_ = 0;
};

constexpr std::uint8_t kTape = 0x01;
constexpr std::uint8_t kChanger = 0x08;
constexpr std::uint8_t kDisk = 0x00;

std::vector<std::uint8_t> Inquiry(std::uint8_t type, const char* product) {
    std::vector<std::uint8_t> data(36, ' ');
    data[0] = type;
    data[1] = 0x80;
    data[2] = 0x05;
    data[4] = 31;
    std::memcpy(data.data() + 8, "VORN    ", 8);
    std::memcpy(data.data() + 16, product, std::min<std::size_t>(std::strlen(product), 16));
    std::memcpy(data.data() + 32, "A1B2", 4);
    return data;
}

// A device that answers INQUIRY with inquiry and everything else GOOD without data.
std::function<Answer(const Sent&)> Answering(std::vector<std::uint8_t> inquiry) {
    return [inquiry](const Sent& request) {
        Answer answer;
        if (!request.cdb.empty() && request.cdb[0] == kOpInquiry)
            answer.dataIn = inquiry;
        return answer;
    };
}

// The paths of a transport's devices as numbers, in index order.
std::vector<std::uint32_t> Paths(const Transport& transport) {
    std::vector<std::uint32_t> paths;
    for (std::uint32_t i = 0; i < transport.deviceCount(); ++i) {
        const DevicePath path = transport.devicePath(i);
        paths.push_back((std::uint32_t{path[0]} << 24) | (std::uint32_t{path[1]} << 16) |
                        (std::uint32_t{path[2]} << 8) | path[3]);
    }
    return paths;
}

std::uint32_t PathNumber(std::uint8_t adapter, std::uint8_t target, std::uint8_t lun) {
    return (std::uint32_t{adapter} << 16) | (std::uint32_t{target} << 8) | lun;
}

// One adapter, \\.\Scsi0:, with one KMR tape at bus 0, target 4, LUN 0.
std::unique_ptr<FakeOs> OneTape(ULONG alignmentMask = 0x3) {
    auto os = std::make_unique<FakeOs>();
    Node adapter;
    adapter.inquiryData = AdapterInquiryData(1, {{0, 4, 0, kTape, true}});
    adapter.alignmentMask = alignmentMask;
    adapter.device = Answering(Inquiry(kTape, "KMR-47000"));
    os->nodes["\\\\.\\Scsi0:"] = adapter;
    return os;
}

// ---------------------------------------------------------------------------------------
// Enumeration

TEST(SptiEnumeration, AllUnitsOfAllBusesAndAdaptersPastGapsInStableOrder) {
    auto os = std::make_unique<FakeOs>();
    Node first;
    // Listed out of order on purpose: the index order must not follow the driver's.
    first.inquiryData =
        AdapterInquiryData(2, {{1, 0, 0, kDisk}, {0, 3, 1, kChanger}, {0, 3, 0, kTape}});
    first.alignmentMask = 0;
    os->nodes["\\\\.\\Scsi0:"] = first;
    Node fourth;
    fourth.inquiryData = AdapterInquiryData(1, {{0, 6, 0, kTape}, {0, 5, 2, kTape}});
    fourth.alignmentMask = 0;
    os->nodes["\\\\.\\Scsi3:"] = fourth;
    FakeOs& fake = *os;

    SptiTransport transport(std::move(os));

    EXPECT_EQ(Paths(transport), (std::vector<std::uint32_t>{
                                    PathNumber(0, 3, 0), PathNumber(0, 3, 1), PathNumber(0, 0, 0),
                                    PathNumber(3, 5, 2), PathNumber(3, 6, 0)}));
    ASSERT_EQ(transport.deviceCount(), 5u);
    EXPECT_EQ(transport.enumeratedDeviceType(0), kTape);
    EXPECT_EQ(transport.enumeratedDeviceType(1), kChanger);
    EXPECT_EQ(transport.enumeratedDeviceType(2), kDisk);
    // The bus is in the address even though the path has no room for it.
    EXPECT_EQ(transport.address(2), (std::array<std::uint8_t, 4>{0, 1, 0, 0}));
    EXPECT_EQ(transport.address(3), (std::array<std::uint8_t, 4>{3, 0, 5, 2}));
    EXPECT_EQ(transport.describe(), "");

    // Scsi1: and Scsi2: are a gap, not the end; the scan ends after a run of missing ones.
    EXPECT_EQ(fake.opened("\\\\.\\Scsi3:"), 1u);
    const std::string lastTried = "\\\\.\\Scsi" + std::to_string(3 + kMissingAdaptersToStop) + ":";
    const std::string firstUntried =
        "\\\\.\\Scsi" + std::to_string(4 + kMissingAdaptersToStop) + ":";
    EXPECT_EQ(fake.opened(lastTried), 1u);
    EXPECT_EQ(fake.opened(firstUntried), 0u);
}

TEST(SptiEnumeration, AnAdapterJustInsideTheGapLimitIsFoundOneBeyondIsNot) {
    for (const unsigned gap : {kMissingAdaptersToStop - 1, kMissingAdaptersToStop}) {
        auto os = std::make_unique<FakeOs>();
        Node adapter;
        adapter.inquiryData = AdapterInquiryData(1, {{0, 1, 0, kTape}});
        os->nodes["\\\\.\\Scsi" + std::to_string(gap) + ":"] = adapter;
        SptiTransport transport(std::move(os));
        EXPECT_EQ(transport.deviceCount(), gap < kMissingAdaptersToStop ? 1u : 0u) << "gap " << gap;
    }
}

TEST(SptiEnumeration, TheSameSystemGivesTheSameIndexesEveryTime) {
    auto build = [] {
        auto os = std::make_unique<FakeOs>();
        Node adapter;
        adapter.inquiryData =
            AdapterInquiryData(1, {{0, 9, 0, kTape}, {0, 2, 0, kChanger}, {0, 2, 1, kTape}});
        os->nodes["\\\\.\\Scsi1:"] = adapter;
        return std::make_unique<SptiTransport>(std::move(os));
    };
    const auto a = build();
    const auto b = build();
    EXPECT_EQ(Paths(*a), Paths(*b));
    EXPECT_EQ(Paths(*a), (std::vector<std::uint32_t>{PathNumber(1, 2, 0), PathNumber(1, 2, 1),
                                                     PathNumber(1, 9, 0)}));
}

TEST(SptiEnumeration, UnitsThatCannotBeThereAreNotDevices) {
    auto os = std::make_unique<FakeOs>();
    Node adapter;
    adapter.inquiryData = AdapterInquiryData(1, {{0, 1, 0, kTape}, {0, 1, 1, 0x7F}});
    os->nodes["\\\\.\\Scsi0:"] = adapter;
    SptiTransport transport(std::move(os));
    EXPECT_EQ(Paths(transport), (std::vector<std::uint32_t>{PathNumber(0, 1, 0)}));
}

TEST(SptiEnumeration, HandlesAreClosedWithTheTransport) {
    auto os = OneTape();
    os->nodes["\\\\.\\Tape0"].address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 0, 0, 4, 0};
    FakeOs& fake = *os;
    {
        SptiTransport transport(std::move(os));
        EXPECT_EQ(fake.openHandles, 1); // the adapter; the class device was asked and closed
        ScsiCommand command(TestUnitReadyCdb().view(), kTestUnitReadyTimeout);
        EXPECT_EQ(Classify(command, transport.execute(0, command)), 0u);
    }
    EXPECT_EQ(fake.openHandles, 0);
    EXPECT_EQ(fake.badCloses, 0);
}

// ---------------------------------------------------------------------------------------
// The driver's inquiry data is checked, not trusted

TEST(SptiInquiryData, OffsetsOutsideTheReturnedBytesAreIgnored) {
    auto data = AdapterInquiryData(2, {{0, 1, 0, kTape}, {0, 2, 0, kTape}, {1, 3, 0, kTape}});
    const auto parsed = ParseAdapterInquiryData(data);
    ASSERT_EQ(parsed.size(), 3u);

    // Bus 1's chain points past the end.
    auto pastEnd = data;
    const ULONG beyond = static_cast<ULONG>(data.size() + 100);
    const std::size_t bus1 = offsetof(SCSI_ADAPTER_BUS_INFO, BusData) + sizeof(SCSI_BUS_DATA) +
                             offsetof(SCSI_BUS_DATA, InquiryDataOffset);
    std::memcpy(pastEnd.data() + bus1, &beyond, sizeof beyond);
    EXPECT_EQ(ParseAdapterInquiryData(pastEnd).size(), 2u);

    // Bus table claims more buses than fit.
    auto manyBuses = data;
    manyBuses[0] = 255;
    EXPECT_EQ(ParseAdapterInquiryData(manyBuses).size(), 3u);

    // Entries cut off by a short buffer: only whole headers count, and a type only when
    // its byte is inside.
    std::size_t before = 0;
    for (std::size_t cut = 0; cut <= data.size(); ++cut) {
        const auto units = ParseAdapterInquiryData(std::span(data.data(), cut));
        EXPECT_GE(units.size(), before) << "cut " << cut;
        EXPECT_LE(units.size(), 3u);
        before = units.size();
        for (const auto& unit : units) {
            EXPECT_TRUE(unit.type == kTape || !unit.type.has_value()) << "cut " << cut;
        }
    }
    EXPECT_EQ(before, 3u);
}

TEST(SptiInquiryData, ALoopOfOffsetsEnds) {
    auto data = AdapterInquiryData(1, {{0, 1, 0, kTape}, {0, 2, 0, kTape}});
    SCSI_BUS_DATA bus{};
    std::memcpy(&bus, data.data() + offsetof(SCSI_ADAPTER_BUS_INFO, BusData), sizeof bus);
    // The second entry points back at the first.
    ULONG second = 0;
    std::memcpy(&second,
                data.data() + bus.InquiryDataOffset +
                    offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset),
                sizeof second);
    ASSERT_NE(second, 0u);
    std::memcpy(data.data() + second + offsetof(SCSI_INQUIRY_DATA, NextInquiryDataOffset),
                &bus.InquiryDataOffset, sizeof bus.InquiryDataOffset);
    const auto units = ParseAdapterInquiryData(data);
    EXPECT_EQ(units.size(), 2u);
}

TEST(SptiInquiryData, OnlyTheSizeTheDriverReturnedIsRead) {
    auto os = std::make_unique<FakeOs>();
    Node adapter;
    adapter.inquiryData = AdapterInquiryData(2, {{0, 1, 0, kTape}, {1, 2, 0, kTape}});
    // The driver says it filled only part of the second bus's entry header; the rest of
    // the buffer holds a well-formed entry that must not be read.
    SCSI_BUS_DATA bus1{};
    std::memcpy(&bus1,
                adapter.inquiryData->data() + offsetof(SCSI_ADAPTER_BUS_INFO, BusData) +
                    sizeof(SCSI_BUS_DATA),
                sizeof bus1);
    ASSERT_NE(bus1.InquiryDataOffset, 0u);
    adapter.inquiryReturned = bus1.InquiryDataOffset + 4;
    os->nodes["\\\\.\\Scsi0:"] = adapter;
    SptiTransport transport(std::move(os));
    EXPECT_EQ(Paths(transport), (std::vector<std::uint32_t>{PathNumber(0, 1, 0)}));
}

TEST(SptiInquiryData, AnInquiryByteOutsideTheBufferLeavesTheTypeUnknown) {
    auto data = AdapterInquiryData(1, {{0, 1, 0, kTape}});
    SCSI_BUS_DATA bus{};
    std::memcpy(&bus, data.data() + offsetof(SCSI_ADAPTER_BUS_INFO, BusData), sizeof bus);
    const std::size_t headerEnd = bus.InquiryDataOffset + offsetof(SCSI_INQUIRY_DATA, InquiryData);
    const auto units = ParseAdapterInquiryData(std::span(data.data(), headerEnd));
    ASSERT_EQ(units.size(), 1u);
    EXPECT_FALSE(units[0].type.has_value());
}

// ---------------------------------------------------------------------------------------
// What is sent for each operation

class SptiOperations : public ::testing::Test {
protected:
    void SetUp() override {
        UnsetEnv();
        auto os = OneTape();
        fake_ = os.get();
        Reset();
        UseTransport(std::make_unique<SptiTransport>(std::move(os)));
    }
    void TearDown() override { Reset(); }

    static void UnsetEnv() {
        _putenv_s("ZURVAX_EMULATION", "");
        _putenv_s("ZURVAX_TRACE", "");
    }

    const Sent& last() const { return fake_->sent.back(); }

    // The layout every pass-through of ours must have, whatever the command.
    void expectWellFormed(const Sent& request) const {
        const SCSI_PASS_THROUGH_DIRECT& sptd = request.sptd;
        EXPECT_EQ(request.path, "\\\\.\\Scsi0:");
        EXPECT_EQ(request.code, static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
        EXPECT_TRUE(request.sameBuffer);
        EXPECT_EQ(request.inSize, request.outSize);
        EXPECT_EQ(sptd.Length, sizeof(SCSI_PASS_THROUGH_DIRECT));
        EXPECT_EQ(sptd.PathId, 0);
        EXPECT_EQ(sptd.TargetId, 4);
        EXPECT_EQ(sptd.Lun, 0);
        EXPECT_EQ(sptd.SenseInfoLength, kSptiSenseBufferSize);
        EXPECT_GE(sptd.SenseInfoOffset, sizeof(SCSI_PASS_THROUGH_DIRECT));
        EXPECT_EQ(sptd.SenseInfoOffset % 4, 0u);
        EXPECT_LE(sptd.SenseInfoOffset + sptd.SenseInfoLength, request.outSize);
        EXPECT_EQ(sptd.CdbLength, request.cdb.size());
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sptd.DataBuffer) & 0x3, 0u);
    }

    FakeOs* fake_ = nullptr;
};

TEST_F(SptiOperations, TestUnitReadyCarriesNoData) {
    EXPECT_EQ(TestUnitReady(0), 0u);
    ASSERT_EQ(fake_->sent.size(), 1u);
    const Sent& request = last();
    expectWellFormed(request);
    const Cdb expected = TestUnitReadyCdb();
    EXPECT_EQ(request.cdb,
              std::vector<std::uint8_t>(expected.view().begin(), expected.view().end()));
    EXPECT_EQ(request.sptd.CdbLength, 6);
    EXPECT_EQ(request.sptd.DataIn, SCSI_IOCTL_DATA_UNSPECIFIED);
    EXPECT_EQ(request.sptd.DataTransferLength, 0u);
    EXPECT_EQ(request.sptd.DataBuffer, nullptr);
    EXPECT_EQ(request.sptd.TimeOutValue, 60u);
}

TEST_F(SptiOperations, InquiryAndDeviceTypeReadThirtySixBytesIn) {
    INQUIRY_DATA inquiry{};
    EXPECT_EQ(ReadRawInquiryData(0, &inquiry), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(inquiry.bytes + 16), 9), "KMR-47000");
    const Sent& request = last();
    expectWellFormed(request);
    EXPECT_EQ(request.cdb[0], kOpInquiry);
    EXPECT_EQ(request.sptd.CdbLength, 6);
    EXPECT_EQ(request.sptd.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(request.sptd.DataTransferLength, sizeof(INQUIRY_DATA));
    EXPECT_EQ(request.sptd.TimeOutValue, 10u);
    EXPECT_EQ(GetDeviceType(0), kTape);
    EXPECT_EQ(GetDeviceType(1), NO_DEVICE_TYPE);
    EXPECT_EQ(ReadRawInquiryData(1, &inquiry), END_OF_DEVICE_LIST);
}

TEST_F(SptiOperations, SerialNumberReadsTheVitalProductDataPage) {
    fake_->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        Answer answer;
        answer.dataIn = {kTape, 0x80, 0x00, 0x05, 'H', 'U', '7', '7', ' '};
        return answer;
    };
    char serial[SERIAL_NUMBER_SIZE] = {};
    EXPECT_EQ(ReadSerialNumber(0, serial, sizeof serial), 0u);
    EXPECT_EQ(std::string(serial), "HU77");
    const Sent& request = last();
    expectWellFormed(request);
    EXPECT_EQ(request.cdb, (std::vector<std::uint8_t>{kOpInquiry, 0x01, 0x80, 0, 255, 0}));
    EXPECT_EQ(request.sptd.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(request.sptd.DataTransferLength, 255u);
    EXPECT_EQ(request.sptd.TimeOutValue, 10u);
}

TEST_F(SptiOperations, RequestSenseAsksEighteenBytes) {
    fake_->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        Answer answer;
        answer.dataIn = FixedSense(0x06, 0x29, 0x00);
        return answer;
    };
    SENSE_DATA sense{};
    EXPECT_EQ(RequestSense(0, &sense), 0u);
    const Sent& request = last();
    expectWellFormed(request);
    EXPECT_EQ(request.cdb[0], kOpRequestSense);
    EXPECT_EQ(request.cdb[4], kRequestSenseLength);
    EXPECT_EQ(request.sptd.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(request.sptd.DataTransferLength, kRequestSenseLength);
    EXPECT_EQ(request.sptd.TimeOutValue, 10u);
    EXPECT_EQ(sense.bytes[2], 0x06);
    EXPECT_EQ(sense.bytes[12], 0x29);
}

TEST_F(SptiOperations, WriteBufferSendsTheCallersBytesOut) {
    std::vector<std::uint8_t> image(4096);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint8_t>(i * 7 + 1);
    EXPECT_EQ(WriteBuffer(0, BUFFER_MODE_DATA, 0, 0x1000, static_cast<std::uint32_t>(image.size()),
                          image.data()),
              0u);
    const Sent& request = last();
    expectWellFormed(request);
    const auto expected =
        WriteBufferCdb(BUFFER_MODE_DATA, 0, 0x1000, static_cast<std::uint32_t>(image.size()));
    ASSERT_TRUE(expected);
    EXPECT_EQ(request.cdb,
              std::vector<std::uint8_t>(expected->view().begin(), expected->view().end()));
    EXPECT_EQ(request.sptd.CdbLength, 10);
    EXPECT_EQ(request.sptd.DataIn, SCSI_IOCTL_DATA_OUT);
    EXPECT_EQ(request.sptd.DataTransferLength, image.size());
    EXPECT_EQ(request.dataOut, image);
    EXPECT_EQ(request.sptd.TimeOutValue, 60u);
}

TEST_F(SptiOperations, MicrocodeSaveWaitsMinutes) {
    std::vector<std::uint8_t> image(512, 0x5A);
    EXPECT_EQ(WriteBuffer(0, BUFFER_MODE_DOWNLOAD_MICROCODE_SAVE, 0, 0, 512, image.data()), 0u);
    EXPECT_EQ(last().cdb[1] & 0x1F, BUFFER_MODE_DOWNLOAD_MICROCODE_SAVE);
    EXPECT_EQ(last().sptd.TimeOutValue, 300u);
    EXPECT_EQ(std::chrono::seconds(last().sptd.TimeOutValue), kPassThroughMicrocodeTimeout);
}

TEST_F(SptiOperations, ReadBufferReadsIn) {
    const std::vector<std::uint8_t> held = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    fake_->nodes["\\\\.\\Scsi0:"].device = [held](const Sent&) {
        Answer answer;
        answer.dataIn = held;
        return answer;
    };
    std::vector<std::uint8_t> out(held.size(), 0xEE);
    EXPECT_EQ(ReadBuffer(0, BUFFER_MODE_DATA, 1, 0x20, static_cast<std::uint32_t>(out.size()),
                         out.data()),
              0u);
    EXPECT_EQ(out, held);
    const Sent& request = last();
    expectWellFormed(request);
    EXPECT_EQ(request.cdb[0], kOpReadBuffer);
    EXPECT_EQ(request.sptd.CdbLength, 10);
    EXPECT_EQ(request.sptd.DataIn, SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(request.sptd.DataTransferLength, held.size());
    EXPECT_EQ(request.sptd.TimeOutValue, 60u);
}

TEST_F(SptiOperations, AShortReadBufferIsAShortTransferAndKeepsTheCallersFirstByte) {
    fake_->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        Answer answer;
        answer.dataIn.assign(60, 0x11);
        return answer;
    };
    std::vector<std::uint8_t> out(100, 0xEE);
    EXPECT_EQ(ReadBuffer(0, BUFFER_MODE_DATA, 0, 0, 100, out.data()), ZURVAX_STATUS_SHORT_TRANSFER);
    EXPECT_EQ(out[0], 0xEE);
    EXPECT_TRUE(std::all_of(out.begin() + 60, out.end(), [](std::uint8_t b) { return b == 0xEE; }));
}

TEST_F(SptiOperations, AWriteTheDeviceTookOnlyPartOfIsAShortTransfer) {
    fake_->nodes["\\\\.\\Scsi0:"].device = [](const Sent& request) {
        Answer answer;
        answer.transferred = request.sptd.DataTransferLength / 2;
        return answer;
    };
    std::vector<std::uint8_t> image(256, 0x42);
    EXPECT_EQ(WriteBuffer(0, BUFFER_MODE_DATA, 0, 0, 256, image.data()),
              ZURVAX_STATUS_SHORT_TRANSFER);
}

TEST_F(SptiOperations, FixedAndDescriptorSenseReachTheClassifierUntouched) {
    for (const auto& sense : {FixedSense(0x02, 0x04, 0x01), DescriptorSense(0x02, 0x04, 0x01)}) {
        fake_->nodes["\\\\.\\Scsi0:"].device = [sense](const Sent&) {
            Answer answer;
            answer.status = kScsiCheckCondition;
            answer.sense = sense;
            return answer;
        };
        EXPECT_EQ(TestUnitReady(0), 0x0401u) << "sense format " << int{sense[0]};
    }
    fake_->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        Answer answer;
        answer.status = kScsiCheckCondition;
        answer.sense = FixedSense(0x02, 0x3A, 0x00);
        return answer;
    };
    EXPECT_EQ(TestUnitReady(0), MEDIUM_NOT_PRESENT);
    fake_->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        Answer answer;
        answer.status = kScsiCheckCondition;
        return answer;
    };
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_CHECK_CONDITION_NO_SENSE);
    fake_->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        Answer answer;
        answer.status = kScsiBusy;
        return answer;
    };
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_BUSY);
}

TEST_F(SptiOperations, FailedDeviceIoControlBecomesTheStatusOfItsCategory) {
    struct Case {
        DWORD error;
        std::uint32_t status;
    };
    const Case cases[] = {
        {ERROR_SEM_TIMEOUT, ZURVAX_STATUS_TIMEOUT},
        {ERROR_TIMEOUT, ZURVAX_STATUS_TIMEOUT},
        {ERROR_DEVICE_NOT_CONNECTED, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {ERROR_FILE_NOT_FOUND, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {ERROR_NOT_READY, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {ERROR_DEV_NOT_EXIST, ZURVAX_STATUS_NO_SUCH_DEVICE},
        {ERROR_IO_DEVICE, ZURVAX_STATUS_TRANSPORT_ERROR},
        {ERROR_CRC, ZURVAX_STATUS_TRANSPORT_ERROR},
        {ERROR_BUS_RESET, ZURVAX_STATUS_TRANSPORT_ERROR},
        {ERROR_OPERATION_ABORTED, ZURVAX_STATUS_TRANSPORT_ERROR},
        {ERROR_ACCESS_DENIED, ZURVAX_STATUS_PERMISSION_DENIED},
        {ERROR_INVALID_FUNCTION, ZURVAX_STATUS_OS_ERROR},
        {ERROR_INVALID_PARAMETER, ZURVAX_STATUS_OS_ERROR},
        {ERROR_NOT_ENOUGH_MEMORY, ZURVAX_STATUS_OS_ERROR},
    };
    for (const Case& c : cases) {
        fake_->nodes["\\\\.\\Scsi0:"].device = [c](const Sent&) {
            Answer answer;
            answer.error = c.error;
            return answer;
        };
        EXPECT_EQ(TestUnitReady(0), c.status) << "Win32 error " << c.error;
        std::vector<std::uint8_t> out(16, 0xEE);
        EXPECT_EQ(ReadBuffer(0, BUFFER_MODE_DATA, 0, 0, 16, out.data()), c.status)
            << "Win32 error " << c.error;
        EXPECT_EQ(out, std::vector<std::uint8_t>(16, 0xEE));
    }
}

TEST_F(SptiOperations, TimeOutsAreTheSharedTableInWholeSeconds) {
    EXPECT_EQ(TestUnitReady(0), 0u);
    EXPECT_EQ(std::chrono::seconds(last().sptd.TimeOutValue),
              std::chrono::ceil<std::chrono::seconds>(
                  std::min(kPassThroughShortTimeout, kTestUnitReadyTimeout)));
    INQUIRY_DATA inquiry{};
    EXPECT_EQ(ReadRawInquiryData(0, &inquiry), 0u);
    EXPECT_EQ(std::chrono::seconds(last().sptd.TimeOutValue),
              std::chrono::ceil<std::chrono::seconds>(kInquiryTimeout));
}

// ---------------------------------------------------------------------------------------
// Where pass-through direct is refused: the buffered request

TEST(SptiBuffered, ARefusedDirectRequestIsSentAgainWithTheDataInside) {
    struct Case {
        DWORD directError;
        bool fallsBack;
    };
    for (const Case c : {Case{ERROR_INSUFFICIENT_BUFFER, true}, Case{ERROR_INVALID_PARAMETER, true},
                         Case{ERROR_INVALID_FUNCTION, false}}) {
        SCOPED_TRACE("direct refused with " + std::to_string(c.directError));
        auto os = OneTape();
        const std::vector<std::uint8_t> held = {3, 1, 4, 1, 5, 9, 2, 6, 5, 3, 5, 8, 9};
        Node& adapter = os->nodes["\\\\.\\Scsi0:"];
        adapter.directError = c.directError;
        adapter.device = [held](const Sent& request) {
            Answer answer;
            if (request.cdb[0] == kOpReadBuffer)
                answer.dataIn = held;
            if (request.cdb[0] == kOpTestUnitReady) {
                answer.status = kScsiCheckCondition;
                answer.sense = FixedSense(0x02, 0x04, 0x01);
            }
            return answer;
        };
        FakeOs& fake = *os;
        SptiTransport transport(std::move(os));

        const auto readCdb =
            ReadBufferCdb(BUFFER_MODE_DATA, 0, 0, static_cast<std::uint32_t>(held.size()));
        ASSERT_TRUE(readCdb);
        std::vector<std::uint8_t> in(held.size(), 0xEE);
        ScsiCommand read(readCdb->view(), kReadBufferTimeout);
        read.setDataIn(std::span(in), in.size());
        const std::uint32_t readStatus = Classify(read, transport.execute(0, read));
        if (!c.fallsBack) {
            EXPECT_EQ(readStatus, ZURVAX_STATUS_OS_ERROR);
            ASSERT_EQ(fake.sent.size(), 1u);
            EXPECT_EQ(fake.sent[0].code,
                      static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
            continue;
        }
        EXPECT_EQ(readStatus, 0u);
        EXPECT_EQ(in, held);
        ASSERT_EQ(fake.sent.size(), 2u);
        EXPECT_EQ(fake.sent[0].code, static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
        const Sent& again = fake.sent[1];
        EXPECT_EQ(again.code, static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH));
        EXPECT_EQ(again.sptd.Length, sizeof(SCSI_PASS_THROUGH));
        EXPECT_EQ(again.cdb, fake.sent[0].cdb);
        EXPECT_EQ(again.sptd.CdbLength, 10);
        EXPECT_EQ(again.sptd.DataIn, SCSI_IOCTL_DATA_IN);
        EXPECT_EQ(again.sptd.DataTransferLength, held.size());
        EXPECT_EQ(again.sptd.TargetId, 4);
        EXPECT_EQ(again.sptd.TimeOutValue, fake.sent[0].sptd.TimeOutValue);
        EXPECT_TRUE(again.sameBuffer);
        EXPECT_EQ(again.inSize, again.dataOffset + held.size());
        EXPECT_GE(again.dataOffset, again.sptd.SenseInfoOffset + again.sptd.SenseInfoLength);

        // Once the buffered way has worked, it is the first one tried.
        std::vector<std::uint8_t> image(300);
        for (std::size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<std::uint8_t>(i * 13 + 5);
        const auto writeCdb =
            WriteBufferCdb(BUFFER_MODE_DATA, 0, 0, static_cast<std::uint32_t>(image.size()));
        ASSERT_TRUE(writeCdb);
        ScsiCommand write(writeCdb->view(), kWriteBufferTimeout);
        write.setDataOut(std::span<const std::uint8_t>(image));
        EXPECT_EQ(Classify(write, transport.execute(0, write)), 0u);
        ASSERT_EQ(fake.sent.size(), 3u);
        EXPECT_EQ(fake.sent[2].code, static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH));
        EXPECT_EQ(fake.sent[2].sptd.DataIn, SCSI_IOCTL_DATA_OUT);
        EXPECT_EQ(fake.sent[2].dataOut, image);

        // No data, and the device's sense comes back from the request too.
        ScsiCommand test(TestUnitReadyCdb().view(), kTestUnitReadyTimeout);
        EXPECT_EQ(Classify(test, transport.execute(0, test)), 0x0401u);
        ASSERT_EQ(fake.sent.size(), 4u);
        EXPECT_EQ(fake.sent[3].code, static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH));
        EXPECT_EQ(fake.sent[3].sptd.DataIn, SCSI_IOCTL_DATA_UNSPECIFIED);
        EXPECT_EQ(fake.sent[3].sptd.DataTransferLength, 0u);
    }
}

TEST(SptiBuffered, WhenTheBufferedRequestIsRefusedTooTheDirectOneIsTriedNextTime) {
    auto os = OneTape();
    Node& adapter = os->nodes["\\\\.\\Scsi0:"];
    adapter.directError = ERROR_INVALID_PARAMETER;
    adapter.device = [](const Sent&) { return Answer{ERROR_INVALID_PARAMETER, 0, {}, {}, {}}; };
    FakeOs& fake = *os;
    SptiTransport transport(std::move(os));
    ScsiCommand test(TestUnitReadyCdb().view(), kTestUnitReadyTimeout);
    EXPECT_EQ(Classify(test, transport.execute(0, test)), ZURVAX_STATUS_OS_ERROR);
    EXPECT_EQ(Classify(test, transport.execute(0, test)), ZURVAX_STATUS_OS_ERROR);
    ASSERT_EQ(fake.sent.size(), 4u);
    EXPECT_EQ(fake.sent[2].code, static_cast<std::uint32_t>(IOCTL_SCSI_PASS_THROUGH_DIRECT));
}

// ---------------------------------------------------------------------------------------
// Alignment

struct AlignedCase {
    ULONG mask;
    std::size_t skew; // bytes the caller's buffer starts past an 8-byte boundary
    bool bounced;
};

class SptiAlignment : public ::testing::TestWithParam<AlignedCase> {};

TEST_P(SptiAlignment, DataMeetsTheAdaptersMaskBothWays) {
    const AlignedCase c = GetParam();
    auto os = OneTape(c.mask);
    const std::vector<std::uint8_t> held = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 10, 20, 30};
    os->nodes["\\\\.\\Scsi0:"].device = [held](const Sent& request) {
        Answer answer;
        if (request.cdb[0] == kOpReadBuffer)
            answer.dataIn = held;
        return answer;
    };
    FakeOs& fake = *os;
    SptiTransport transport(std::move(os));

    alignas(16) std::uint8_t storage[64] = {};
    std::uint8_t* start = storage + c.skew;
    const auto readCdb =
        ReadBufferCdb(BUFFER_MODE_DATA, 0, 0, static_cast<std::uint32_t>(held.size()));
    ASSERT_TRUE(readCdb);
    ScsiCommand read(readCdb->view(), kReadBufferTimeout);
    read.setDataIn(std::span(start, held.size()), held.size());
    EXPECT_EQ(Classify(read, transport.execute(0, read)), 0u);
    const auto* sentTo = static_cast<const std::uint8_t*>(fake.sent.back().sptd.DataBuffer);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sentTo) & c.mask, 0u);
    EXPECT_EQ(sentTo != start, c.bounced);
    EXPECT_TRUE(std::equal(held.begin(), held.end(), start));

    std::uint8_t* outStart = storage + 32 + c.skew;
    for (std::size_t i = 0; i < 16; ++i)
        outStart[i] = static_cast<std::uint8_t>(0xA0 + i);
    const auto writeCdb = WriteBufferCdb(BUFFER_MODE_DATA, 0, 0, 16);
    ASSERT_TRUE(writeCdb);
    ScsiCommand write(writeCdb->view(), kWriteBufferTimeout);
    write.setDataOut(std::span<const std::uint8_t>(outStart, 16));
    EXPECT_EQ(Classify(write, transport.execute(0, write)), 0u);
    const Sent& sentWrite = fake.sent.back();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(sentWrite.sptd.DataBuffer) & c.mask, 0u);
    EXPECT_EQ(sentWrite.sptd.DataBuffer != outStart, c.bounced);
    EXPECT_EQ(sentWrite.dataOut, std::vector<std::uint8_t>(outStart, outStart + 16));
}

INSTANTIATE_TEST_SUITE_P(Masks, SptiAlignment,
                         ::testing::Values(AlignedCase{0x0, 1, false}, AlignedCase{0x1, 0, false},
                                           AlignedCase{0x1, 1, true}, AlignedCase{0x3, 2, true},
                                           AlignedCase{0x7, 4, true}, AlignedCase{0x7, 8, false}));

TEST(SptiAlignmentUnknown, AnAdapterThatDoesNotSayIsTreatedCautiously) {
    auto os = OneTape();
    os->nodes["\\\\.\\Scsi0:"].alignmentMask.reset();
    FakeOs& fake = *os;
    SptiTransport transport(std::move(os));
    alignas(16) std::uint8_t storage[64] = {};
    const auto cdb = InquiryCdb(36);
    ScsiCommand command(cdb.view(), kInquiryTimeout);
    command.setDataIn(std::span(storage + 8, 36), 36);
    EXPECT_EQ(Classify(command, transport.execute(0, command)), 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(fake.sent.back().sptd.DataBuffer) &
                  kUnknownAlignmentMask,
              0u);
    EXPECT_EQ(storage[8 + 16], 'K');
}

// ---------------------------------------------------------------------------------------
// Access rights and the class drivers

class SptiLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        _putenv_s("ZURVAX_EMULATION", "");
        _putenv_s("ZURVAX_TRACE", "");
        Reset();
    }
    void TearDown() override { Reset(); }

    std::string openMessage(std::uint32_t& status) {
        char message[512] = {};
        status = ZurvaxOpen(message, sizeof message);
        return message;
    }
};

TEST_F(SptiLibrary, AccessDeniedListsTheDevicesFailsTheirCommandsAndAsksForAnAdministrator) {
    auto os = OneTape();
    os->nodes["\\\\.\\Scsi0:"].readWriteError = ERROR_ACCESS_DENIED;
    FakeOs& fake = *os;
    UseTransport(std::make_unique<SptiTransport>(std::move(os)));

    std::uint32_t status = 1;
    const std::string message = openMessage(status);
    EXPECT_EQ(status, 0u);
    EXPECT_NE(message.find("administrator"), std::string::npos) << message;
    EXPECT_NE(message.find("\\\\.\\Scsi0:"), std::string::npos) << message;

    const SCSI_PATH path = GetScsiPath(0);
    EXPECT_EQ(path.bytes[2], 4);
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_PERMISSION_DENIED);
    std::vector<std::uint8_t> image(64, 1);
    EXPECT_EQ(WriteBuffer(0, BUFFER_MODE_DATA, 0, 0, 64, image.data()),
              ZURVAX_STATUS_PERMISSION_DENIED);
    INQUIRY_DATA inquiry{};
    EXPECT_EQ(ReadRawInquiryData(0, &inquiry), ZURVAX_STATUS_PERMISSION_DENIED);
    // The type still comes from the adapter's listing.
    EXPECT_EQ(GetDeviceType(0), kTape);
    // A second open of the same library says the same, not more.
    EXPECT_EQ(openMessage(status), message);
    // Listed through a handle without rights; nothing reached the device.
    EXPECT_EQ(std::count(fake.opens.begin(), fake.opens.end(),
                         std::make_pair(std::string("\\\\.\\Scsi0:"), false)),
              1);
    EXPECT_TRUE(fake.sent.empty());
}

TEST_F(SptiLibrary, NoWarningWhenAllIsWell) {
    UseTransport(std::make_unique<SptiTransport>(OneTape()));
    std::uint32_t status = 1;
    EXPECT_EQ(openMessage(status), "");
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(TestUnitReady(0), 0u);
}

TEST_F(SptiLibrary, AClaimedUnitIsReachedThroughItsClassDevice) {
    for (const DWORD refusal : {DWORD{ERROR_INVALID_FUNCTION}, DWORD{ERROR_ACCESS_DENIED}}) {
        Reset();
        auto os = OneTape();
        os->nodes["\\\\.\\Scsi0:"].device = [refusal](const Sent&) {
            Answer answer;
            answer.error = refusal;
            return answer;
        };
        // A tape on another unit, then the one we want; a changer that is not SCSI-addressed.
        os->nodes["\\\\.\\Tape0"].address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 0, 0, 5, 0};
        os->nodes["\\\\.\\Tape0"].device = [](const Sent&) {
            return Answer{ERROR_IO_DEVICE, 0, {}, {}, {}};
        };
        os->nodes["\\\\.\\Tape2"].address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 0, 0, 4, 0};
        os->nodes["\\\\.\\Tape2"].device = Answering(Inquiry(kTape, "KMR-47000"));
        os->nodes["\\\\.\\Changer0"] = Node{};
        FakeOs& fake = *os;
        auto transport = std::make_unique<SptiTransport>(std::move(os));
        ASSERT_EQ(transport->deviceCount(), 2u);
        EXPECT_EQ(transport->classPath(0), "\\\\.\\Tape2");
        EXPECT_EQ(transport->classPath(1), "\\\\.\\Tape0");
        UseTransport(std::move(transport));

        INQUIRY_DATA inquiry{};
        EXPECT_EQ(ReadRawInquiryData(0, &inquiry), 0u) << "refusal " << refusal;
        EXPECT_EQ(inquiry.bytes[0], kTape);
        ASSERT_EQ(fake.sent.size(), 2u);
        EXPECT_EQ(fake.sent[0].path, "\\\\.\\Scsi0:");
        EXPECT_EQ(fake.sent[1].path, "\\\\.\\Tape2");
        EXPECT_EQ(fake.sent[1].cdb, fake.sent[0].cdb);
        EXPECT_EQ(fake.sent[1].sptd.TargetId, 4);
        EXPECT_EQ(fake.sent[1].sptd.DataTransferLength, sizeof(INQUIRY_DATA));

        // Once the class device has worked, the adapter is not asked again.
        EXPECT_EQ(TestUnitReady(0), 0u);
        ASSERT_EQ(fake.sent.size(), 3u);
        EXPECT_EQ(fake.sent[2].path, "\\\\.\\Tape2");
        EXPECT_EQ(fake.sent[2].cdb[0], kOpTestUnitReady);
        EXPECT_EQ(std::count(fake.opens.begin(), fake.opens.end(),
                             std::make_pair(std::string("\\\\.\\Tape2"), true)),
                  1);
    }
}

TEST_F(SptiLibrary, ARefusalWithoutAClassDeviceIsTheAdaptersAnswer) {
    auto os = OneTape();
    os->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        return Answer{ERROR_INVALID_FUNCTION, 0, {}, {}, {}};
    };
    UseTransport(std::make_unique<SptiTransport>(std::move(os)));
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_OS_ERROR);
}

TEST_F(SptiLibrary, AClassDeviceTheUserMayNotOpenIsPermissionDenied) {
    auto os = OneTape();
    os->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        return Answer{ERROR_ACCESS_DENIED, 0, {}, {}, {}};
    };
    os->nodes["\\\\.\\Tape0"].address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 0, 0, 4, 0};
    os->nodes["\\\\.\\Tape0"].readWriteError = ERROR_ACCESS_DENIED;
    UseTransport(std::make_unique<SptiTransport>(std::move(os)));
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_PERMISSION_DENIED);
}

TEST_F(SptiLibrary, AClassDeviceBehindAnAdapterThatCannotBeOpenedIsStillADevice) {
    auto os = std::make_unique<FakeOs>();
    Node adapter;
    adapter.readWriteError = ERROR_ACCESS_DENIED;
    adapter.anyAccessError = ERROR_ACCESS_DENIED;
    os->nodes["\\\\.\\Scsi1:"] = adapter;
    Node tape;
    tape.address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 1, 0, 6, 0};
    tape.readWriteError = ERROR_ACCESS_DENIED;
    os->nodes["\\\\.\\Tape0"] = tape;
    Node changer;
    changer.address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 1, 0, 6, 1};
    changer.readWriteError = ERROR_ACCESS_DENIED;
    os->nodes["\\\\.\\Changer0"] = changer;
    UseTransport(std::make_unique<SptiTransport>(std::move(os)));

    std::uint32_t status = 1;
    EXPECT_NE(openMessage(status).find("administrator"), std::string::npos);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(GetDeviceType(0), kTape);
    EXPECT_EQ(GetDeviceType(1), kChanger);
    EXPECT_EQ(GetDeviceType(2), NO_DEVICE_TYPE);
    const SCSI_PATH path = GetScsiPath(1);
    EXPECT_EQ(path.bytes[1], 1);
    EXPECT_EQ(path.bytes[2], 6);
    EXPECT_EQ(path.bytes[3], 1);
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_PERMISSION_DENIED);
}

TEST_F(SptiLibrary, AClaimHoldsTheTapeClassDeviceAlone) {
    // How \\.\Tape0 is there: not at all, matched to the unit by its address, present but
    // without an address (Wine answers ERROR_NOT_SUPPORTED on every tape device), or present
    // but refusing even an open without rights (Wine, while the st driver's one opener has it).
    enum class Tape { None, Matched, NoAddress, OpenRefused };
    struct Case {
        const char* name;
        Tape tape;
        DWORD exclusiveError;
        std::uint32_t status;
    };
    for (const Case& c : {Case{"free", Tape::Matched, 0, 0},
                          Case{"another program has it", Tape::Matched, ERROR_SHARING_VIOLATION,
                               ZURVAX_STATUS_DEVICE_IN_USE},
                          Case{"another program has it, under Wine", Tape::Matched,
                               ERROR_LOCK_VIOLATION, ZURVAX_STATUS_DEVICE_IN_USE},
                          Case{"not for this user", Tape::Matched, ERROR_ACCESS_DENIED,
                               ZURVAX_STATUS_PERMISSION_DENIED},
                          Case{"no tape class device", Tape::None, 0, 0},
                          Case{"a tape class device of unknown unit", Tape::NoAddress, 0,
                               ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK},
                          Case{"a tape class device that refuses every open", Tape::OpenRefused, 0,
                               ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK}}) {
        SCOPED_TRACE(c.name);
        Reset();
        auto os = OneTape();
        if (c.tape != Tape::None) {
            Node& tape = os->nodes["\\\\.\\Tape0"];
            if (c.tape == Tape::Matched)
                tape.address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 0, 0, 4, 0};
            if (c.tape == Tape::OpenRefused) {
                tape.anyAccessError = ERROR_LOCK_VIOLATION;
                tape.readWriteError = ERROR_LOCK_VIOLATION;
            }
            tape.exclusiveError = c.exclusiveError;
        }
        FakeOs& fake = *os;
        UseTransport(std::make_unique<SptiTransport>(std::move(os)));
        const int handles = fake.openHandles;

        const bool matched = c.tape == Tape::Matched;
        EXPECT_EQ(ClaimDevice(0), c.status);
        EXPECT_EQ(fake.exclusiveOpens,
                  matched ? std::vector<std::string>{"\\\\.\\Tape0"} : std::vector<std::string>{});
        EXPECT_EQ(fake.openHandles, handles + (matched && c.status == 0 ? 1 : 0));
        if (c.status == 0 || c.status == ZURVAX_STATUS_CLAIMED_WITHOUT_LOCK) {
            EXPECT_EQ(ClaimDevice(0), ZURVAX_STATUS_DEVICE_IN_USE) << "ours until released";
        }
        EXPECT_EQ(TestUnitReady(0), 0u) << "the adapter still answers";
        EXPECT_EQ(ReleaseDevice(0), 0u);
        EXPECT_EQ(fake.openHandles, handles);
    }
}

TEST_F(SptiLibrary, AUnitReachedThroughItsClassDeviceIsClaimedThroughOurOwnHandleToo) {
    auto os = OneTape();
    os->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        return Answer{ERROR_INVALID_FUNCTION, 0, {}, {}, {}};
    };
    os->nodes["\\\\.\\Tape0"].address = SCSI_ADDRESS{sizeof(SCSI_ADDRESS), 0, 0, 4, 0};
    os->nodes["\\\\.\\Tape0"].device = Answering(Inquiry(kTape, "KMR-47000"));
    FakeOs& fake = *os;
    UseTransport(std::make_unique<SptiTransport>(std::move(os)));
    ASSERT_EQ(TestUnitReady(0), 0u); // now through a shared handle of the class device
    // That handle of ours must not make the claim fail as someone else's would.
    EXPECT_EQ(ClaimDevice(0), 0u);
    const std::size_t opens = fake.opens.size();
    EXPECT_EQ(TestUnitReady(0), 0u);
    EXPECT_EQ(fake.sent.back().path, "\\\\.\\Tape0");
    EXPECT_EQ(fake.opens.size(), opens) << "commands use the exclusive handle";
    EXPECT_EQ(ReleaseDevice(0), 0u);
    EXPECT_EQ(TestUnitReady(0), 0u) << "shared again after the release";
}

TEST_F(SptiLibrary, ADeviceThatWentAwayIsNoSuchDevice) {
    auto os = OneTape();
    os->nodes["\\\\.\\Scsi0:"].device = [](const Sent&) {
        return Answer{ERROR_DEVICE_NOT_CONNECTED, 0, {}, {}, {}};
    };
    UseTransport(std::make_unique<SptiTransport>(std::move(os)));
    EXPECT_EQ(TestUnitReady(0), ZURVAX_STATUS_NO_SUCH_DEVICE);
    SENSE_DATA sense{};
    EXPECT_EQ(RequestSense(0, &sense), ZURVAX_STATUS_NO_SUCH_DEVICE);
}

// ---------------------------------------------------------------------------------------
// The real Win32 calls

TEST(SptiWin32, AnAdapterThatIsNotThereIsAbsent) {
    const auto io = MakeWin32DeviceIo();
    const DeviceHandleValue handle =
        io->open("\\\\.\\Scsi" + std::to_string(kMaxAdapters + 7) + ":", true);
    const std::uint32_t error = io->lastError();
    EXPECT_EQ(handle, kInvalidDeviceHandle);
    EXPECT_TRUE(error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) << error;
    EXPECT_EQ(SptiErrorResult(error).osError, OsError::NoDevice);
}

TEST(SptiWin32, ARealTransportAnswersForEveryDeviceItLists) {
    SptiTransport transport(MakeWin32DeviceIo());
    for (std::uint32_t i = 0; i < transport.deviceCount(); ++i) {
        const auto address = transport.address(i);
        EXPECT_EQ(transport.devicePath(i), (DevicePath{0, address[0], address[2], address[3]}));
    }
    ScsiCommand command(TestUnitReadyCdb().view(), kTestUnitReadyTimeout);
    EXPECT_EQ(Classify(command, transport.execute(transport.deviceCount(), command)),
              ZURVAX_STATUS_NO_SUCH_DEVICE);
}

} // namespace
} // namespace zurvax::test

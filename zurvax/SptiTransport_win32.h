// The Windows transport: SCSI pass-through (SPTI) to the devices behind every SCSI adapter.
//
// Adapters: \\.\Scsi0:, \\.\Scsi1:, ... up to \\.\Scsi63:. Adapter numbers are not dense
// (a removed adapter leaves its number unused), so a missing adapter does not end the
// scan; kMissingAdaptersToStop missing in a row do. Each adapter is opened read-write
// (pass-through needs it); where that is refused it is opened without access rights, which
// still lists its devices, and every command on them then fails as the OS decides.
//
// Devices: every logical unit of IOCTL_SCSI_GET_INQUIRY_DATA (all buses), whatever its
// type, except units whose peripheral qualifier says no device can be there. The driver's
// buffer is trusted for nothing: every offset and length is checked against the size it
// returned. Then the class devices \\.\TapeN, \\.\ChangerN and \\.\PhysicalDriveN (same
// gap rule) are matched to those units by IOCTL_SCSI_GET_ADDRESS; a class device whose
// unit no adapter listed (its adapter refused even an open without rights, say) becomes a
// device of its own, typed by its class. Order: adapter, bus (PathId), target, LUN, fixed
// when the transport is made. Path: adapter number, target id, LUN in bytes 1-3.
//
// Commands: IOCTL_SCSI_PASS_THROUGH_DIRECT on the adapter with the unit's PathId, TargetId
// and Lun; time-outs from zurvax/CommandTimeouts.h in whole seconds, rounded up. A data
// buffer that does not meet the adapter's AlignmentMask (IOCTL_SCSI_GET_CAPABILITIES) goes
// through an aligned bounce buffer. When the adapter refuses a unit that a class driver
// has claimed (ERROR_INVALID_FUNCTION or ERROR_ACCESS_DENIED) and the unit has a class
// device, the command goes through that class device, and so do all later ones. Where the
// direct request itself is refused (ERROR_INSUFFICIENT_BUFFER or ERROR_INVALID_PARAMETER:
// a 32-bit program on a system whose pass-through takes only 64-bit structures) the command
// is sent again as IOCTL_SCSI_PASS_THROUGH, its data copied inside the request; once that
// has been delivered, later commands on the same handle go that way straight away.
//
// Results: ScsiStatus, sense bytes (as the device sent them, fixed or descriptor) and the
// DataTransferLength residual become a ScsiResult as they are; a failed DeviceIoControl or
// open becomes the category of SptiErrorResult. The shared Classify() alone decides.
//
// Claims: the unit's tape class device (\\.\TapeN, matched above) is opened read-write
// with no sharing and held until release; commands that go through the class device use
// that handle meanwhile. ERROR_SHARING_VIOLATION, and ERROR_LOCK_VIOLATION (Wine's answer
// when the tape driver allows one opener only), mean another program has it open. A unit
// without a tape class device is claimed with nothing held; when it is a tape unit and some
// tape class device exists whose unit could not be learnt (its address refused, as Wine
// refuses it on every such device, or its open refused), that device may be this unit's:
// the claim then says that it holds nothing (ClaimResult::lockUnavailable).
//
// describe() is ZurvaxOpen's message: empty when all is well, a warning that the program
// must run as administrator when an adapter refused read-write access.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zurvax/Transport.h"

namespace zurvax {

// A Win32 HANDLE as a number; kInvalidDeviceHandle is INVALID_HANDLE_VALUE.
using DeviceHandleValue = std::uintptr_t;
inline constexpr DeviceHandleValue kInvalidDeviceHandle = ~DeviceHandleValue{0};

// The Win32 calls the transport makes, so that tests can stand in for the OS. No call
// throws; failures are reported as Win32 error codes through lastError().
class DeviceIo {
public:
    DeviceIo() = default;
    virtual ~DeviceIo() = default;
    DeviceIo(const DeviceIo&) = delete;
    DeviceIo& operator=(const DeviceIo&) = delete;

    // CreateFileA(path, readWrite ? GENERIC_READ | GENERIC_WRITE : 0, FILE_SHARE_READ |
    // FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr).
    virtual DeviceHandleValue open(const std::string& path, bool readWrite) = 0;
    // CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr):
    // no other handle may be open, and none can be opened while this one is.
    virtual DeviceHandleValue openExclusive(const std::string& path) = 0;
    // DeviceIoControl without OVERLAPPED; returned is the byte count it reports.
    virtual bool control(DeviceHandleValue handle, std::uint32_t code, void* in,
                         std::uint32_t inSize, void* out, std::uint32_t outSize,
                         std::uint32_t& returned) = 0;
    virtual void close(DeviceHandleValue handle) = 0;
    // GetLastError() right after a failed open or control.
    virtual std::uint32_t lastError() = 0;
};

std::unique_ptr<DeviceIo> MakeWin32DeviceIo();

// Owns one handle of a DeviceIo; closes it once.
class DeviceHandle {
public:
    DeviceHandle() = default;
    DeviceHandle(DeviceIo& io, DeviceHandleValue value) : io_(&io), value_(value) {}
    ~DeviceHandle() { reset(); }
    DeviceHandle(const DeviceHandle&) = delete;
    DeviceHandle& operator=(const DeviceHandle&) = delete;
    DeviceHandle(DeviceHandle&& other) noexcept;
    DeviceHandle& operator=(DeviceHandle&& other) noexcept;

    bool valid() const { return io_ != nullptr && value_ != kInvalidDeviceHandle; }
    DeviceHandleValue get() const { return value_; }
    void reset();

private:
    DeviceIo* io_ = nullptr;
    DeviceHandleValue value_ = kInvalidDeviceHandle;
};

inline constexpr unsigned kMaxAdapters = 64;
inline constexpr unsigned kMaxClassDevices = 64;
// Absent names in a row after which a scan of \\.\ScsiN: (or of a class) stops.
inline constexpr unsigned kMissingAdaptersToStop = 8;
// Sense bytes asked of the adapter: fixed sense needs 18, descriptor sense may need more.
inline constexpr std::uint8_t kSptiSenseBufferSize = 64;
// Alignment assumed when an adapter does not report its own.
inline constexpr std::uint32_t kUnknownAlignmentMask = 0x1FF;

// One logical unit as IOCTL_SCSI_GET_INQUIRY_DATA lists it.
struct ListedUnit {
    std::uint8_t pathId = 0;
    std::uint8_t targetId = 0;
    std::uint8_t lun = 0;
    bool claimed = false;
    std::optional<std::uint8_t> type; // nullopt when the driver gave no inquiry byte
};

// The units in the first `data.size()` bytes of a SCSI_ADAPTER_BUS_INFO buffer, in the
// order listed. An entry whose header does not lie inside data ends its bus's chain, and of
// its inquiry bytes only those inside data are read; a chain cannot run longer than data
// has room for entries (a loop of offsets ends); the same address counts once.
std::vector<ListedUnit> ParseAdapterInquiryData(std::span<const std::uint8_t> data);

// The result of a DeviceIoControl or open that failed with a Win32 error:
//   ERROR_ACCESS_DENIED                              -> OsError::PermissionDenied
//   ERROR_SEM_TIMEOUT, ERROR_TIMEOUT                 -> OsError::TimedOut
//   ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND,
//   ERROR_DEV_NOT_EXIST, ERROR_NO_SUCH_DEVICE (433),
//   ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED,
//   ERROR_NOT_READY                                  -> OsError::NoDevice
//   ERROR_IO_DEVICE, ERROR_CRC, ERROR_BUS_RESET,
//   ERROR_ADAP_HDW_ERR, ERROR_GEN_FAILURE,
//   ERROR_OPERATION_ABORTED, ERROR_REQUEST_ABORTED   -> TransportStatus::Error
//   anything else (ERROR_INVALID_FUNCTION, ERROR_INVALID_PARAMETER, out of memory, ...)
//                                                    -> OsError::Other
// ERROR_NOT_READY counts as no device: a pass-through to a unit that is merely becoming
// ready succeeds and carries the unit's NOT READY sense; the port answers ERROR_NOT_READY
// itself only for a unit it is stopping or has lost.
ScsiResult SptiErrorResult(std::uint32_t win32Error);

class SptiTransport final : public Transport {
public:
    // Enumerates the adapters and class devices now.
    explicit SptiTransport(std::unique_ptr<DeviceIo> io);
    ~SptiTransport() override;

    std::uint32_t deviceCount() const override;
    DevicePath devicePath(std::uint32_t index) const override;
    // Peripheral type from the adapter's inquiry data, or from the class device's kind.
    std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t index) const override;
    ScsiResult execute(std::uint32_t index, const ScsiCommand& command) override;
    ClaimResult claim(std::uint32_t index) override;
    void release(std::uint32_t index) override;
    std::string describe() const override;

    // Adapter number, PathId, TargetId, Lun of a device; all zero past the end.
    std::array<std::uint8_t, 4> address(std::uint32_t index) const;
    // The class device matched to a device, e.g. "\\.\Tape0"; empty when none.
    std::string classPath(std::uint32_t index) const;

private:
    struct Adapter {
        std::uint8_t number = 0;
        DeviceHandle handle;
        std::uint32_t alignmentMask = kUnknownAlignmentMask;
        bool buffered = false; // pass-through direct refused, buffered delivered
    };
    struct Device {
        std::uint8_t adapter = 0;
        std::uint8_t pathId = 0;
        std::uint8_t targetId = 0;
        std::uint8_t lun = 0;
        std::optional<std::uint8_t> type;
        std::optional<std::size_t> adapterSlot; // into adapters_; none for class-only devices
        std::string classPath;
        DeviceHandle classHandle;
        bool classTried = false;
        std::uint32_t classOpenError = 0;
        bool throughClass = false;
        bool classBuffered = false; // as Adapter::buffered, for the class device's handles
        bool claimed = false;       // classHandle is the exclusive one
    };
    struct Attempt {
        bool delivered = false;
        std::uint32_t error = 0;
        ScsiResult result;
    };

    void enumerateAdapters();
    void addAdapterUnits(Adapter& adapter, std::size_t slot);
    void enumerateClassDevices();
    std::uint32_t alignmentOf(const Device& device) const;
    // buffered: whether this handle takes only IOCTL_SCSI_PASS_THROUGH; set here once a
    // refused direct request has gone through that way.
    Attempt send(DeviceHandleValue handle, std::uint32_t alignmentMask, bool& buffered,
                 const Device& device, const ScsiCommand& command);
    Attempt sendDirect(DeviceHandleValue handle, std::uint32_t alignmentMask, const Device& device,
                       const ScsiCommand& command);
    Attempt sendBuffered(DeviceHandleValue handle, const Device& device,
                         const ScsiCommand& command);
    ScsiResult sendThroughClass(Device& device, const ScsiCommand& command);

    std::unique_ptr<DeviceIo> io_;
    std::vector<Adapter> adapters_;
    std::vector<Device> devices_;
    std::vector<std::string> refusedAdapters_;
    // Tape class devices that exist but whose unit could not be learnt.
    std::vector<std::string> unplacedTapes_;
};

} // namespace zurvax

// The Linux transport: SCSI generic nodes (/dev/sg<N>) driven with the SG_IO ioctl.
//
// Devices: every node named sg<N> in the device folder, in increasing N (sg9 before sg10);
// position in that order is the library's device index, fixed when the transport is made.
// Each node is opened read-write (WRITE BUFFER needs it), read-only where read-write is
// refused, non-blocking so that an exclusive holder cannot hang the scan; descriptors stay
// open for the transport's life. A node refused for lack of permission still counts as a
// device, and every command on it reports ZURVAX_STATUS_PERMISSION_DENIED. Nodes that
// vanished or have no device behind them (ENOENT, ENODEV, ENXIO), and nodes that are not
// SCSI generic devices, are not devices.
//
// Path: SG_GET_SCSI_ID's host number, target id and LUN (low byte each) in bytes 1-3.
//
// Claims: the st driver's non-rewinding node of the same host, channel, target and LUN
// (TapeNodeName) is opened read-only and non-blocking in the device folder and held until
// release. st lets one opener in at a time, so EBUSY means another program has the drive. A
// unit that st has not attached (or whose node is missing from the folder) is claimed with
// nothing held; a node the user may not open is PERMISSION_DENIED.
//
// Time-outs: zurvax/CommandTimeouts.h, the table both OS transports share.
//
// Results: the sg_io_hdr is translated category by category into a ScsiResult; the shared
// Classify() alone turns that into a status, so sense data (fixed or descriptor) is passed
// on as the device sent it and a residual stays a residual.
//
// describe() is ZurvaxOpen's message. It is empty when all is well; when nodes exist but
// none could be opened for lack of permission it is a warning, naming the owning group and
// the group the packages' udev rule gives KMR-47000 drives to (kRuleGroup), the program
// shows once before its first scan (ZurvaxOpen still returns 0).
#pragma once

#include <scsi/sg.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zurvax/Transport.h"

namespace zurvax {

// The group the udev rule installed with the program gives KMR-47000 SCSI generic nodes to
// (read-write): FWUPGRADE_DEVICE_GROUP of the top CMakeLists.txt, the rule's only source.
inline constexpr const char kRuleGroup[] = ZURVAX_RULE_GROUP;

struct SgOpenResult {
    int fd = -1;
    int error = 0; // errno when fd < 0
};

// The system calls the transport makes, so that tests can stand in for the kernel. Every
// call reports failure as an errno value, never by throwing.
class SgSystem {
public:
    SgSystem() = default;
    virtual ~SgSystem() = default;
    SgSystem(const SgSystem&) = delete;
    SgSystem& operator=(const SgSystem&) = delete;

    // Names of the entries in folder whose name begins with "sg", in any order.
    virtual std::vector<std::string> listSgNames(const std::string& folder) = 0;
    virtual SgOpenResult open(const std::string& path, int flags) = 0;
    virtual void close(int fd) = 0;
    // ioctl(fd, SG_IO, &header): 0 or errno. The header's outputs are valid only after 0.
    virtual int sgIo(int fd, sg_io_hdr_t& header) = 0;
    // ioctl(fd, SG_GET_SCSI_ID, &id): 0 or errno.
    virtual int getScsiId(int fd, sg_scsi_id& id) = 0;
    // st_gid of the node; nullopt when stat fails.
    virtual std::optional<gid_t> nodeGroup(const std::string& path) = 0;
    // getgrgid's name of the group; nullopt when the group is unknown.
    virtual std::optional<std::string> groupName(gid_t gid) = 0;
};

// The name ("nst<N>") of the st driver's non-rewinding node of the SCSI unit host:channel:
// target:lun, from <sysfs>/bus/scsi/devices/<h>:<c>:<t>:<l>/scsi_tape/; nullopt when st has
// not attached to the unit.
std::optional<std::string> TapeNodeName(const std::string& sysfs, int host, int channel, int target,
                                        int lun);

// The real system calls. SG_IO runs with catchable signals blocked in the calling thread:
// a signal would make the kernel abandon the command while the device goes on with it, and
// a restarted ioctl would send it a second time (twice a microcode commit).
std::unique_ptr<SgSystem> MakeSgSystem();

// Host status values of the SCSI midlayer (sg_io_hdr.host_status).
enum : std::uint16_t {
    kDidOk = 0x00,
    kDidNoConnect = 0x01,
    kDidBusBusy = 0x02,
    kDidTimeOut = 0x03,
    kDidBadTarget = 0x04,
    kDidAbort = 0x05,
    kDidParity = 0x06,
    kDidError = 0x07,
    kDidReset = 0x08,
};

// Driver status (sg_io_hdr.driver_status): the low three bits; 08h only says sense is there.
enum : std::uint16_t {
    kDriverOk = 0x00,
    kDriverTimeout = 0x06,
    kDriverSense = 0x08,
};

// Sense bytes asked of the kernel, which keeps at most this many (SCSI_SENSE_BUFFERSIZE).
inline constexpr std::uint8_t kSgSenseBufferSize = 96;

// The result categories one sg_io_hdr reports, after a successful SG_IO ioctl.
ScsiResult SgResult(const sg_io_hdr_t& header, const std::uint8_t* senseBuffer);
// The result of an SG_IO ioctl, or of an open, that failed with errno.
ScsiResult SgErrnoResult(int error);

class SgTransport final : public Transport {
public:
    // Enumerates folder's sg nodes now; tape nodes are looked up under sysfs.
    explicit SgTransport(std::unique_ptr<SgSystem> system, std::string folder = "/dev",
                         std::string sysfs = "/sys");
    ~SgTransport() override;

    std::uint32_t deviceCount() const override;
    DevicePath devicePath(std::uint32_t index) const override;
    // SG_GET_SCSI_ID's peripheral type, for a device whose INQUIRY fails.
    std::optional<std::uint8_t> enumeratedDeviceType(std::uint32_t index) const override;
    ScsiResult execute(std::uint32_t index, const ScsiCommand& command) override;
    ClaimResult claim(std::uint32_t index) override;
    void release(std::uint32_t index) override;
    std::string describe() const override;

    // The node behind a device index, e.g. "/dev/sg3".
    std::string nodePath(std::uint32_t index) const;
    // nodePath's node, and st's node of the same unit (TapeNodeName) in the device folder.
    DeviceNodes deviceNodes(std::uint32_t index) const override;

private:
    struct Device {
        std::string path;
        int fd = -1;
        int openError = 0;
        DevicePath scsiPath{};
        std::optional<std::uint8_t> type;
        std::optional<sg_scsi_id> id;
        int tapeFd = -1; // the tape node held while claimed
    };

    void enumerate();
    std::string permissionWarning() const;
    // st's node of the device's unit in the device folder, the one a claim holds; none where
    // the kernel gave no address or st has not attached.
    std::optional<std::string> tapeNodeOf(const Device& device) const;

    std::unique_ptr<SgSystem> system_;
    std::string folder_;
    std::string sysfs_;
    std::vector<Device> devices_;
    std::string warning_;
};

} // namespace zurvax

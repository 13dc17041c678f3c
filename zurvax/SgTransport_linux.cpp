#include "zurvax/SgTransport_linux.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <utility>

#include "zurvax/CommandTimeouts.h"

namespace zurvax {
namespace {

// N of a name "sg<N>"; nullopt for anything else.
std::optional<unsigned long> NodeNumber(const std::string& name) {
    if (name.size() <= 2 || name.compare(0, 2, "sg") != 0)
        return std::nullopt;
    unsigned long number = 0;
    const char* first = name.data() + 2;
    const char* last = name.data() + name.size();
    const auto [end, error] = std::from_chars(first, last, number);
    if (error != std::errc() || end != last || *first == '+')
        return std::nullopt;
    return number;
}

bool IsPermissionError(int error) { return error == EACCES || error == EPERM; }

// An open refused for one of these has nothing behind the name worth an index.
bool IsAbsent(int error) { return error == ENOENT || error == ENODEV || error == ENXIO; }

OsError OsErrorOf(int error) {
    if (IsPermissionError(error))
        return OsError::PermissionDenied;
    if (error == ENODEV || error == ENXIO || error == ENOENT)
        return OsError::NoDevice;
    if (error == ETIMEDOUT)
        return OsError::TimedOut;
    return OsError::Other;
}

TransportStatus FromHostStatus(std::uint16_t host) {
    switch (host) {
    case kDidOk:
        return TransportStatus::Ok;
    case kDidTimeOut:
        return TransportStatus::Timeout;
    case kDidNoConnect:
    case kDidBadTarget:
        return TransportStatus::NoDevice;
    default:
        return TransportStatus::Error;
    }
}

TransportStatus FromDriverStatus(std::uint16_t driver) {
    switch (driver & 0x07) {
    case kDriverOk:
        return TransportStatus::Ok;
    case kDriverTimeout:
        return TransportStatus::Timeout;
    default:
        return TransportStatus::Error;
    }
}

int DataDirectionOf(DataDirection direction) {
    switch (direction) {
    case DataDirection::ToDevice:
        return SG_DXFER_TO_DEV;
    case DataDirection::FromDevice:
        return SG_DXFER_FROM_DEV;
    case DataDirection::None:
        return SG_DXFER_NONE;
    }
    return SG_DXFER_NONE;
}

class RealSgSystem final : public SgSystem {
public:
    std::vector<std::string> listSgNames(const std::string& folder) override {
        std::vector<std::string> names;
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr)
            return names;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name(entry->d_name);
            if (name.rfind("sg", 0) == 0)
                names.push_back(name);
        }
        ::closedir(dir);
        return names;
    }

    SgOpenResult open(const std::string& path, int flags) override {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
        if (fd < 0)
            return {-1, errno};
        return {fd, 0};
    }

    void close(int fd) override { ::close(fd); }

    int sgIo(int fd, sg_io_hdr_t& header) override {
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        const bool blocked = ::pthread_sigmask(SIG_BLOCK, &all, &previous) == 0;
        const int result = ::ioctl(fd, SG_IO, &header);
        const int error = result < 0 ? errno : 0;
        if (blocked)
            ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return error;
    }

    int getScsiId(int fd, sg_scsi_id& id) override {
        return ::ioctl(fd, SG_GET_SCSI_ID, &id) < 0 ? errno : 0;
    }

    std::optional<gid_t> nodeGroup(const std::string& path) override {
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0)
            return std::nullopt;
        return info.st_gid;
    }

    std::optional<std::string> groupName(gid_t gid) override {
        group entry{};
        group* found = nullptr;
        std::vector<char> buffer(4096);
        while (true) {
            const int error = ::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found);
            if (error == ERANGE && buffer.size() < (1u << 20)) {
                buffer.resize(buffer.size() * 2);
                continue;
            }
            if (error != 0 || found == nullptr || found->gr_name == nullptr)
                return std::nullopt;
            return std::string(found->gr_name);
        }
    }
};

} // namespace

std::unique_ptr<SgSystem> MakeSgSystem() { return std::make_unique<RealSgSystem>(); }

ScsiResult SgErrnoResult(int error) {
    ScsiResult result;
    result.osError = OsErrorOf(error);
    result.osErrorCode = error;
    return result;
}

ScsiResult SgResult(const sg_io_hdr_t& header, const std::uint8_t* senseBuffer) {
    ScsiResult result;
    result.hostStatus = header.host_status;
    result.driverStatus = header.driver_status;
    result.transport = FromHostStatus(header.host_status);
    if (result.transport == TransportStatus::Ok)
        result.transport = FromDriverStatus(header.driver_status);
    result.scsiStatus = header.status;
    const std::size_t senseLength = std::min<std::size_t>(header.sb_len_wr, header.mx_sb_len);
    if (senseBuffer != nullptr && senseLength != 0) {
        result.sense.assign(senseBuffer, senseBuffer + senseLength);
    }
    result.residual = header.resid > 0 ? static_cast<std::size_t>(header.resid) : 0;
    return result;
}

std::optional<std::string> TapeNodeName(const std::string& sysfs, int host, int channel, int target,
                                        int lun) {
    const std::string unit = std::to_string(host) + ":" + std::to_string(channel) + ":" +
                             std::to_string(target) + ":" + std::to_string(lun);
    std::error_code error;
    std::filesystem::directory_iterator entries(sysfs + "/bus/scsi/devices/" + unit + "/scsi_tape",
                                                error);
    if (error)
        return std::nullopt;
    // st makes eight nodes per drive (st0, st0l, nst0a, ...): the non-rewinding one of the
    // default mode is the one whose closing leaves the tape where it is.
    for (const auto& entry : entries) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 3 && name.compare(0, 3, "nst") == 0 &&
            name.find_first_not_of("0123456789", 3) == std::string::npos) {
            return name;
        }
    }
    return std::nullopt;
}

SgTransport::SgTransport(std::unique_ptr<SgSystem> system, std::string folder, std::string sysfs)
    : system_(std::move(system)), folder_(std::move(folder)), sysfs_(std::move(sysfs)) {
    enumerate();
    warning_ = permissionWarning();
}

SgTransport::~SgTransport() {
    for (const Device& device : devices_) {
        if (device.fd >= 0)
            system_->close(device.fd);
        if (device.tapeFd >= 0)
            system_->close(device.tapeFd);
    }
}

void SgTransport::enumerate() {
    std::vector<std::pair<unsigned long, std::string>> nodes;
    for (const std::string& name : system_->listSgNames(folder_)) {
        if (const auto number = NodeNumber(name))
            nodes.emplace_back(*number, name);
    }
    std::sort(nodes.begin(), nodes.end());

    for (const auto& [number, name] : nodes) {
        Device device;
        device.path = folder_ + "/" + name;
        SgOpenResult opened = system_->open(device.path, O_RDWR | O_NONBLOCK);
        if (opened.fd < 0 && (IsPermissionError(opened.error) || opened.error == EROFS)) {
            opened = system_->open(device.path, O_RDONLY | O_NONBLOCK);
        }
        if (opened.fd < 0) {
            if (IsAbsent(opened.error))
                continue;
            device.openError = opened.error;
            devices_.push_back(device);
            continue;
        }
        device.fd = opened.fd;
        sg_scsi_id id{};
        const int error = system_->getScsiId(device.fd, id);
        if (error == ENOTTY || error == EINVAL || IsAbsent(error)) {
            // Not a SCSI generic node, or its device left while we looked.
            system_->close(device.fd);
            continue;
        }
        if (error == 0) {
            device.scsiPath = {0, static_cast<std::uint8_t>(id.host_no),
                               static_cast<std::uint8_t>(id.scsi_id),
                               static_cast<std::uint8_t>(id.lun)};
            device.type = static_cast<std::uint8_t>(id.scsi_type & 0x1F);
            device.id = id;
        }
        devices_.push_back(device);
    }
}

std::string SgTransport::permissionWarning() const {
    std::vector<std::string> groups;
    std::size_t refused = 0;
    for (const Device& device : devices_) {
        // One usable device is enough: the others may belong to someone else on purpose.
        if (device.fd >= 0)
            return {};
        if (!IsPermissionError(device.openError))
            continue;
        ++refused;
        const auto gid = system_->nodeGroup(device.path);
        if (!gid)
            continue;
        std::string group;
        if (const auto name = system_->groupName(*gid)) {
            group = "\"" + *name + "\"";
        } else {
            group = "with id " + std::to_string(*gid);
        }
        if (std::find(groups.begin(), groups.end(), group) == groups.end())
            groups.push_back(group);
    }
    if (refused == 0)
        return {};

    std::string text = "Permission denied on " + devices_.front().path;
    if (refused > 1)
        text += " and " + std::to_string(refused - 1) + " more SCSI generic device(s)";
    text += ": run the program as root";
    if (!groups.empty()) {
        text += " or as a member of the group ";
        for (std::size_t i = 0; i < groups.size(); ++i) {
            if (i != 0)
                text += i + 1 == groups.size() ? " or " : ", ";
            text += groups[i];
        }
    }
    text += ".";
    const std::string ruleGroup = "\"" + std::string(kRuleGroup) + "\"";
    if (std::find(groups.begin(), groups.end(), ruleGroup) == groups.end()) {
        // The node is not the rule's: another model, or the rule not installed or not
        // applied since.
        text += " Installed from its package, the program's udev rule gives KMR-47000 drives "
                "to the group ";
        text += ruleGroup + ".";
    }
    return text;
}

std::uint32_t SgTransport::deviceCount() const {
    return static_cast<std::uint32_t>(devices_.size());
}

DevicePath SgTransport::devicePath(std::uint32_t index) const {
    return index < devices_.size() ? devices_[index].scsiPath : DevicePath{};
}

std::optional<std::uint8_t> SgTransport::enumeratedDeviceType(std::uint32_t index) const {
    return index < devices_.size() ? devices_[index].type : std::nullopt;
}

std::string SgTransport::nodePath(std::uint32_t index) const {
    return index < devices_.size() ? devices_[index].path : std::string();
}

DeviceNodes SgTransport::deviceNodes(std::uint32_t index) const {
    DeviceNodes nodes;
    if (index >= devices_.size())
        return nodes;
    const Device& device = devices_[index];
    nodes.passThrough = device.path;
    nodes.tape = tapeNodeOf(device).value_or(std::string());
    return nodes;
}

std::optional<std::string> SgTransport::tapeNodeOf(const Device& device) const {
    if (!device.id)
        return std::nullopt;
    const sg_scsi_id& id = *device.id;
    const auto name = TapeNodeName(sysfs_, id.host_no, id.channel, id.scsi_id, id.lun);
    if (!name)
        return std::nullopt;
    return folder_ + "/" + *name;
}

ScsiResult SgTransport::execute(std::uint32_t index, const ScsiCommand& command) {
    if (index >= devices_.size())
        return SgErrnoResult(ENODEV);
    const Device& device = devices_[index];
    if (device.fd < 0)
        return SgErrnoResult(device.openError);

    std::array<std::uint8_t, kMaxCdbLength> cdb{};
    const auto bytes = command.cdb();
    std::copy(bytes.begin(), bytes.end(), cdb.begin());
    std::array<std::uint8_t, kSgSenseBufferSize> sense{};

    sg_io_hdr_t header{};
    header.interface_id = 'S';
    header.dxfer_direction = DataDirectionOf(command.direction());
    header.cmd_len = static_cast<unsigned char>(bytes.size());
    header.cmdp = cdb.data();
    header.mx_sb_len = static_cast<unsigned char>(sense.size());
    header.sbp = sense.data();
    header.timeout = static_cast<unsigned int>(PassThroughTimeout(command).count());
    switch (command.direction()) {
    case DataDirection::ToDevice:
        // The kernel only reads a data-out buffer; sg_io_hdr has one pointer for both ways.
        header.dxferp = const_cast<std::uint8_t*>(command.dataOut().data());
        header.dxfer_len = static_cast<unsigned int>(command.dataOut().size());
        break;
    case DataDirection::FromDevice:
        header.dxferp = command.dataIn().data();
        header.dxfer_len = static_cast<unsigned int>(command.dataIn().size());
        break;
    case DataDirection::None:
        break;
    }

    if (const int error = system_->sgIo(device.fd, header))
        return SgErrnoResult(error);
    return SgResult(header, sense.data());
}

ClaimResult SgTransport::claim(std::uint32_t index) {
    ClaimResult result;
    if (index >= devices_.size()) {
        result.failure = SgErrnoResult(ENODEV);
        return result;
    }
    Device& device = devices_[index];
    if (device.fd < 0) {
        result.failure = SgErrnoResult(device.openError);
        return result;
    }
    if (!device.id || device.tapeFd >= 0)
        return result;
    const auto node = tapeNodeOf(device);
    if (!node)
        return result;
    const SgOpenResult opened = system_->open(*node, O_RDONLY | O_NONBLOCK);
    if (opened.fd >= 0) {
        device.tapeFd = opened.fd;
    } else if (opened.error == EBUSY) {
        result.inUse = true;
    } else if (opened.error != ENOENT) {
        result.failure = SgErrnoResult(opened.error);
    }
    // ENOENT: st knows the drive but the folder has no node for it, so no other program can
    // open it through st either.
    return result;
}

void SgTransport::release(std::uint32_t index) {
    if (index >= devices_.size() || devices_[index].tapeFd < 0)
        return;
    system_->close(devices_[index].tapeFd);
    devices_[index].tapeFd = -1;
}

std::string SgTransport::describe() const { return warning_; }

} // namespace zurvax

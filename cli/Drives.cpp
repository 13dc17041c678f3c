#include "cli/Drives.h"

#include <cstdio>

#include "cli/Text.h"
#include "devices/DeviceList.h"

namespace cli {
namespace {

std::string Field(const std::uint8_t* bytes, std::size_t width, bool trim) {
    std::string text;
    for (std::size_t i = 0; i < width && bytes[i] != 0; ++i) {
        text += static_cast<char>(bytes[i]);
    }
    if (trim) {
        text.erase(text.find_last_not_of(" \t") + 1);
    }
    return text;
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::optional<std::string> Unhex(const std::string& hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

} // namespace

std::optional<unsigned long> DecimalNumber(const std::string& text, std::size_t digits) {
    if (text.empty() || text.size() > digits ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return std::stoul(text);
}

std::string DriveIdentity::Path() const {
    return std::to_string(host) + ":" + std::to_string(target) + ":" + std::to_string(lun);
}

std::string DriveIdentity::Name() const {
    return "drive " + std::to_string(index) + " (" + Path() +
           (serial.empty() ? "" : ", serial " + HumanText(serial)) + ")";
}

bool DriveIdentity::SameDrive(const DriveIdentity& other) const {
    return index == other.index && host == other.host && target == other.target &&
           lun == other.lun && serial == other.serial && vendor == other.vendor &&
           product == other.product;
}

namespace {

DriveIdentity IdentityOf(const ListedDevice& device) {
    DriveIdentity drive;
    drive.index = device.index;
    drive.host = device.path.bytes[1];
    drive.target = device.path.bytes[2];
    drive.lun = device.path.bytes[3];
    drive.vendor = Field(&device.inquiry.bytes[8], 8, true);
    drive.product = Field(&device.inquiry.bytes[16], 16, true);
    drive.revision = Field(&device.inquiry.bytes[32], 4, false);
    char serial[SERIAL_NUMBER_SIZE] = {};
    if (ReadSerialNumber(device.index, serial, sizeof serial) == SCSI_STATUS_OK) {
        drive.serial = serial;
    }
    DEVICE_NODES nodes = {};
    if (GetDeviceNodes(device.index, &nodes) == SCSI_STATUS_OK) {
        drive.passThroughNode = nodes.passThrough;
        drive.tapeNode = nodes.tape;
    }
    return drive;
}

void SayInquiryFailure(UINT status) {
    std::fprintf(stderr, "fwupgrade: an inquiry failed: status %x\n", status);
}

} // namespace

std::vector<DriveIdentity> ListDrives() {
    std::vector<DriveIdentity> drives;
    WalkListedDevices(SayInquiryFailure,
                      [&](const ListedDevice& device) { drives.push_back(IdentityOf(device)); });
    return drives;
}

std::optional<DriveIdentity> IdentityAt(std::uint32_t index) {
    ListedDevice device;
    if (ProbeDevice(index, device, [](UINT /*status*/) {}) != ProbeResult::Listed) {
        return std::nullopt;
    }
    return IdentityOf(device);
}

// index.host.target.lun.serial.vendor.product, the texts in hex: dots and hex digits alone.
std::string EncodeIdentity(const DriveIdentity& drive) {
    return std::to_string(drive.index) + "." + std::to_string(drive.host) + "." +
           std::to_string(drive.target) + "." + std::to_string(drive.lun) + "." +
           Hex(drive.serial) + "." + Hex(drive.vendor) + "." + Hex(drive.product);
}

std::optional<DriveIdentity> DecodeIdentity(const std::string& word) {
    std::vector<std::string> parts;
    std::size_t at = 0;
    for (std::size_t dot; (dot = word.find('.', at)) != std::string::npos; at = dot + 1) {
        parts.push_back(word.substr(at, dot - at));
    }
    parts.push_back(word.substr(at));
    if (parts.size() != 7) {
        return std::nullopt;
    }
    const auto index = DecimalNumber(parts[0], 9);
    const auto host = DecimalNumber(parts[1], 3);
    const auto target = DecimalNumber(parts[2], 3);
    const auto lun = DecimalNumber(parts[3], 3);
    const auto serial = Unhex(parts[4]);
    const auto vendor = Unhex(parts[5]);
    const auto product = Unhex(parts[6]);
    if (!index || !host || !target || !lun || !serial || !vendor || !product || *host > 255 ||
        *target > 255 || *lun > 255) {
        return std::nullopt;
    }
    DriveIdentity drive;
    drive.index = static_cast<std::uint32_t>(*index);
    drive.host = static_cast<int>(*host);
    drive.target = static_cast<int>(*target);
    drive.lun = static_cast<int>(*lun);
    drive.serial = *serial;
    drive.vendor = *vendor;
    drive.product = *product;
    return drive;
}

} // namespace cli

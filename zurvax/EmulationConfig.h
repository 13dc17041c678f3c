// Emulated devices as described by a ZURVAX_EMULATION file (JSON) or the built-in demo set.
//
// File format, every key optional, any other key an error:
//   { "end_of_list": "device_type" | "inquiry", "state_file": "<path>",
//     "devices": [ { "type": 0-31, "qualifier": 0-7, "vendor": "<=8", "product": "<=16",
//                    "revision": "<=4", "inquiry": "<36 bytes hex>", "serial": "<1-251>",
//                    "serial_hex": "<1-251 bytes hex>",
//                    "tape_in_use": bool, "latency_ms": 0-10000,
//                    "host_adapter": 0-255, "target": 0-255, "lun": 0-255,
//                    "medium": bool, "sense": "<hex>", "power_on_attention": bool,
//                    "activation_polls": -1.., "check_image": bool,
//                    "faults": [ { "op": "<operation>" | "*", "mode": 0-31, "from": 1..,
//                                  "count": 0.., "status": n | "0x..", "corrupt": true } ] } ] }
// Defaults: type 1, qualifier 0, "VORN", "KMR-47000", "0100", serial DefaultSerial(index),
// path 0/<index>/0, no medium, sense of the last failed command, power-on attention,
// 2 activation polls, image check, tape device free.
// Hex strings may separate bytes with blanks. "inquiry" replaces the five INQUIRY keys.
// Serial numbers are printable, without blanks at either end, and unique within a file that
// keeps state; "serial_hex" gives one as raw bytes instead (any but 0).
// "tape_in_use": the OS's tape device of the unit is held by another program, so that
// ClaimDevice answers ZURVAX_STATUS_DEVICE_IN_USE.
// "state_file" (relative to the emulation file's folder, or absolute): where the drives
// keep what they took across runs (zurvax/KeptState.h); without it every run starts afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "zurvax/EmulatedDrive.h"
#include "zurvax/Operation.h"
#include "zurvax/Transport.h"

namespace zurvax {

// Makes calls of one operation on one device fail or corrupt their data. Calls that match
// op (nullopt: any operation) and mode (when set: only WriteBuffer/ReadBuffer in that
// mode) are counted from 1 since the library was opened; calls from..from+count-1 are
// faulted (count 0: every call from `from` on).
struct FaultRule {
    std::optional<Operation> op;
    std::optional<std::uint8_t> mode;
    std::uint64_t from = 1;
    std::uint64_t count = 1;
    bool corrupt = false;
    std::uint32_t status = 0;
};

struct DeviceConfig {
    DriveModelConfig drive;
    DevicePath path{};
    std::vector<FaultRule> faults;
    bool tapeInUse = false;
    // Real time every command takes, as a slow drive or a slow bus would: lets a test land a
    // signal or a kill at a given moment of a run in real time.
    unsigned latencyMs = 0;
};

enum class EndOfList {
    DeviceType, // past the last device GetDeviceType gives NO_DEVICE_TYPE
    Inquiry,    // past the last device GetDeviceType gives 1; only the inquiry tells the end
};

struct EmulationConfig {
    std::string source; // "demo" or the file name, for messages
    EndOfList endOfList = EndOfList::DeviceType;
    std::vector<DeviceConfig> devices;
    // The state file's path as the file gives it (LoadEmulationFile resolves a relative one
    // against the file's folder); empty: no state is kept.
    std::string stateFile;
};

struct ConfigError {
    // One line naming the source, device index and key, e.g.
    // `emulation.json: device 1: key "revision": longer than 4 characters`.
    std::string message;
};

using ConfigOutcome = std::variant<EmulationConfig, ConfigError>;

// Parses the JSON text of an emulation file; sourceName prefixes every message.
ConfigOutcome ParseEmulation(std::string_view text, const std::string& sourceName);
// Reads and parses the file at path.
ConfigOutcome LoadEmulationFile(const std::string& path);

// The built-in set ZURVAX_EMULATION=demo selects, in index order, serial numbers
// DefaultSerial(0..4):
//   0  VORN KMR-47000 rev 0100, tape (1), path 0/1/5/0, no cartridge
//   1  VORN KMR-47000 rev 0150, tape (1), path 0/1/6/0, cartridge loaded
//   2  DISKCO DK-2000 rev 1.00, disk (0), path 0/0/0/0
//   3  ACMELIB AUTOLOADER-8 rev 2.10, medium changer (8), path 0/1/4/0
//   4  OTHERCO TX-900 rev 3.02, tape (1), path 0/1/3/0
EmulationConfig DemoEmulation();

} // namespace zurvax

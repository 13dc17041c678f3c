#include "zurvax/EmulationConfig.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <utility>

#include <nlohmann/json.hpp>

#include "zurvax/JsonReader.h"

namespace zurvax {
namespace {

using nlohmann::json;

FaultRule ReadFault(const json& entry, const std::string& context) {
    JsonReader reader(context);
    if (!entry.is_object())
        reader.fail("expected an object");
    reader.onlyKeys(entry, {"op", "mode", "from", "count", "status", "corrupt"});
    FaultRule rule;
    const auto op = reader.text(entry, "op", 0);
    if (!op)
        reader.fail("key \"op\": missing");
    if (*op != "*") {
        rule.op = OperationFromName(*op);
        if (!rule.op)
            reader.fail("key \"op\": unknown operation \"" + *op + "\"");
    }
    if (entry.contains("mode"))
        rule.mode = static_cast<std::uint8_t>(reader.integer(entry, "mode", 0, 31, 0));
    rule.from = static_cast<std::uint64_t>(
        reader.integer(entry, "from", 1, std::numeric_limits<std::int64_t>::max(), 1));
    rule.count = static_cast<std::uint64_t>(
        reader.integer(entry, "count", 0, std::numeric_limits<std::int64_t>::max(), 1));
    rule.corrupt = reader.boolean(entry, "corrupt", false);
    const bool hasStatus = entry.contains("status");
    if (hasStatus && rule.corrupt)
        reader.fail("\"status\" and \"corrupt\" exclude each other");
    if (!hasStatus && !rule.corrupt)
        reader.fail("needs \"status\" or \"corrupt\": true");
    if (hasStatus)
        rule.status = reader.status(entry, "status");
    return rule;
}

DeviceConfig ReadDevice(const json& entry, std::uint32_t index, const std::string& source) {
    const std::string context = source + ": device " + std::to_string(index) + ": ";
    JsonReader reader(context);
    if (!entry.is_object())
        reader.fail("expected an object");
    reader.onlyKeys(entry, {"type", "qualifier", "vendor", "product", "revision", "inquiry",
                            "host_adapter", "target", "lun", "medium", "sense",
                            "power_on_attention", "activation_polls", "check_image", "faults",
                            "serial", "serial_hex", "tape_in_use", "latency_ms"});
    DeviceConfig device;
    const auto type = static_cast<std::uint8_t>(reader.integer(entry, "type", 0, 31, 1));
    const auto qualifier = static_cast<std::uint8_t>(reader.integer(entry, "qualifier", 0, 7, 0));
    const auto vendor = reader.text(entry, "vendor", 8).value_or("VORN");
    const auto product = reader.text(entry, "product", 16).value_or("KMR-47000");
    const auto revision = reader.text(entry, "revision", 4).value_or("0100");
    device.drive.inquiry = StandardInquiry(type, qualifier, vendor, product, revision);
    if (const auto inquiry = reader.hex(entry, "inquiry")) {
        if (inquiry->size() != kInquiryLength) {
            reader.fail("key \"inquiry\": expected 36 bytes, got " +
                        std::to_string(inquiry->size()));
        }
        std::copy(inquiry->begin(), inquiry->end(), device.drive.inquiry.begin());
    }
    device.drive.serial =
        reader.text(entry, "serial", kMaxSerialLength).value_or(DefaultSerial(index));
    if (const auto bytes = reader.hex(entry, "serial_hex")) {
        // A drive's own bytes, which need not be text at all: what a program must survive.
        if (entry.contains("serial"))
            reader.fail("\"serial\" and \"serial_hex\" exclude each other");
        if (bytes->empty() || bytes->size() > kMaxSerialLength ||
            std::find(bytes->begin(), bytes->end(), 0) != bytes->end())
            reader.fail("key \"serial_hex\": expected 1 to " + std::to_string(kMaxSerialLength) +
                        " bytes, none of them 0");
        device.drive.serial.assign(bytes->begin(), bytes->end());
    }
    if (device.drive.serial.empty())
        reader.fail("key \"serial\": empty");
    if (device.drive.serial.front() == ' ' || device.drive.serial.back() == ' ') {
        reader.fail("key \"serial\": begins or ends with a blank");
    }
    device.tapeInUse = reader.boolean(entry, "tape_in_use", false);
    device.latencyMs = static_cast<unsigned>(reader.integer(entry, "latency_ms", 0, 10000, 0));
    device.path[1] = static_cast<std::uint8_t>(reader.integer(entry, "host_adapter", 0, 255, 0));
    device.path[2] =
        static_cast<std::uint8_t>(reader.integer(entry, "target", 0, 255, index & 0xFF));
    device.path[3] = static_cast<std::uint8_t>(reader.integer(entry, "lun", 0, 255, 0));
    device.drive.medium = reader.boolean(entry, "medium", false);
    if (auto sense = reader.hex(entry, "sense")) {
        if (sense->empty() || sense->size() > 252) {
            reader.fail("key \"sense\": expected 1 to 252 bytes, got " +
                        std::to_string(sense->size()));
        }
        device.drive.sense = std::move(*sense);
    }
    device.drive.powerOnAttention = reader.boolean(entry, "power_on_attention", true);
    device.drive.activationPolls =
        static_cast<int>(reader.integer(entry, "activation_polls", -1, 1000000, 2));
    device.drive.checkImage = reader.boolean(entry, "check_image", true);
    if (entry.contains("faults")) {
        const json& faults = entry.at("faults");
        if (!faults.is_array())
            reader.fail("key \"faults\": expected an array, got " +
                        std::string(faults.type_name()));
        for (std::size_t i = 0; i < faults.size(); ++i) {
            device.faults.push_back(ReadFault(faults[i], context + "key \"faults\": entry " +
                                                             std::to_string(i) + ": "));
        }
    }
    return device;
}

EmulationConfig ReadTop(const json& top, const std::string& source) {
    JsonReader reader(source + ": ");
    if (!top.is_object())
        reader.fail("expected an object at the top level");
    reader.onlyKeys(top, {"devices", "end_of_list", "state_file"});
    EmulationConfig config;
    config.source = source;
    if (const auto end = reader.text(top, "end_of_list", 0)) {
        if (*end == "device_type") {
            config.endOfList = EndOfList::DeviceType;
        } else if (*end == "inquiry") {
            config.endOfList = EndOfList::Inquiry;
        } else {
            reader.fail("key \"end_of_list\": \"" + *end +
                        "\" is neither \"device_type\" nor \"inquiry\"");
        }
    }
    if (top.contains("devices")) {
        const json& devices = top.at("devices");
        if (!devices.is_array())
            reader.fail("key \"devices\": expected an array, got " +
                        std::string(devices.type_name()));
        for (std::size_t i = 0; i < devices.size(); ++i) {
            config.devices.push_back(ReadDevice(devices[i], static_cast<std::uint32_t>(i), source));
        }
    }
    // The serial number is what a drive's kept state is found by; without kept state two
    // devices may report one serial number, as one drive seen through two paths does.
    std::map<std::string, std::size_t> serials;
    for (std::size_t i = 0; top.contains("state_file") && i < config.devices.size(); ++i) {
        const std::string& serial = config.devices[i].drive.serial;
        if (std::any_of(serial.begin(), serial.end(), [](char c) { return c < 0x20 || c > 0x7E; }))
            reader.fail("device " + std::to_string(i) +
                        ": a drive that keeps state needs a printable serial number");
        const auto [first, added] = serials.emplace(serial, i);
        if (!added) {
            reader.fail("device " + std::to_string(i) + ": serial number " +
                        JsonReader::quoted(serial) + " is device " + std::to_string(first->second) +
                        "'s too");
        }
    }
    if (const auto state = reader.text(top, "state_file", 0)) {
        if (state->empty())
            reader.fail("key \"state_file\": empty");
        config.stateFile = *state;
    }
    return config;
}

DeviceConfig DemoDevice(std::uint8_t type, const char* vendor, const char* product,
                        const char* revision, std::uint8_t hostAdapter, std::uint8_t target) {
    DeviceConfig device;
    device.drive.inquiry = StandardInquiry(type, 0, vendor, product, revision);
    device.path = {0, hostAdapter, target, 0};
    return device;
}

} // namespace

ConfigOutcome ParseEmulation(std::string_view text, const std::string& sourceName) {
    json top;
    if (std::string error = ParseJsonText(text, sourceName, top); !error.empty())
        return ConfigError{std::move(error)};
    try {
        return ReadTop(top, sourceName);
    } catch (const JsonProblem& problem) {
        return ConfigError{problem.message};
    }
}

ConfigOutcome LoadEmulationFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return ConfigError{path + ": cannot open: " + std::strerror(errno)};
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        return ConfigError{path + ": cannot read"};
    ConfigOutcome outcome = ParseEmulation(content.str(), path);
    if (auto* config = std::get_if<EmulationConfig>(&outcome);
        config != nullptr && !config->stateFile.empty()) {
        const std::filesystem::path state(config->stateFile);
        if (state.is_relative()) {
            config->stateFile = (std::filesystem::path(path).parent_path() / state).string();
        }
    }
    return outcome;
}

EmulationConfig DemoEmulation() {
    EmulationConfig config;
    config.source = "demo";
    config.devices.push_back(DemoDevice(1, "VORN", "KMR-47000", "0100", 1, 5));
    config.devices.push_back(DemoDevice(1, "VORN", "KMR-47000", "0150", 1, 6));
    config.devices.back().drive.medium = true;
    config.devices.push_back(DemoDevice(0, "DISKCO", "DK-2000", "1.00", 0, 0));
    config.devices.push_back(DemoDevice(8, "ACMELIB", "AUTOLOADER-8", "2.10", 1, 4));
    config.devices.push_back(DemoDevice(1, "OTHERCO", "TX-900", "3.02", 1, 3));
    for (std::size_t i = 0; i < config.devices.size(); ++i)
        config.devices[i].drive.serial = DefaultSerial(i);
    return config;
}

} // namespace zurvax

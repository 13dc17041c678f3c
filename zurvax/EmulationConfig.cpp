#include "zurvax/EmulationConfig.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <map>
#include <sstream>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zurvax {
namespace {

using nlohmann::json;

// Thrown only inside this file and caught in ParseEmulation: it carries a finished
// message up through the nested readers.
struct Problem {
    std::string message;
};

class Reader {
public:
    explicit Reader(std::string context) : context_(std::move(context)) {}

    [[noreturn]] void fail(const std::string& what) const { throw Problem{context_ + what}; }

    void onlyKeys(const json& object, std::initializer_list<std::string_view> keys) const {
        for (const auto& item : object.items()) {
            bool known = false;
            for (const auto key : keys)
                known = known || item.key() == key;
            if (!known)
                fail("key " + quoted(item.key()) + ": unknown key");
        }
    }

    std::int64_t integer(const json& object, const char* key, std::int64_t low, std::int64_t high,
                         std::int64_t fallback) const {
        if (!object.contains(key))
            return fallback;
        const json& value = object.at(key);
        if (!value.is_number_integer())
            fail(keyText(key) + "expected an integer, got " + typeOf(value));
        if (value.is_number_unsigned() &&
            value.get<std::uint64_t>() >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            fail(keyText(key) + value.dump() + " is out of range " + range(low, high));
        }
        const auto number = value.get<std::int64_t>();
        if (number < low || number > high)
            fail(keyText(key) + value.dump() + " is out of range " + range(low, high));
        return number;
    }

    bool boolean(const json& object, const char* key, bool fallback) const {
        if (!object.contains(key))
            return fallback;
        const json& value = object.at(key);
        if (!value.is_boolean())
            fail(keyText(key) + "expected true or false, got " + typeOf(value));
        return value.get<bool>();
    }

    std::optional<std::string> text(const json& object, const char* key,
                                    std::size_t maxLength) const {
        if (!object.contains(key))
            return std::nullopt;
        const json& value = object.at(key);
        if (!value.is_string())
            fail(keyText(key) + "expected a string, got " + typeOf(value));
        const auto& s = value.get_ref<const std::string&>();
        if (maxLength != 0 && s.size() > maxLength) {
            fail(keyText(key) + "longer than " + std::to_string(maxLength) + " characters");
        }
        for (const char c : s) {
            if (c < 0x20 || c > 0x7E)
                fail(keyText(key) + "contains a character that is not printable ASCII");
        }
        return s;
    }

    std::optional<std::vector<std::uint8_t>> hex(const json& object, const char* key) const {
        const auto s = text(object, key, 0);
        if (!s)
            return std::nullopt;
        std::vector<std::uint8_t> bytes;
        int pending = -1;
        for (std::size_t i = 0; i < s->size(); ++i) {
            const char c = (*s)[i];
            if (c == ' ') {
                if (pending >= 0)
                    fail(keyText(key) + "bad hex: odd digit before position " + std::to_string(i));
                continue;
            }
            const int digit = HexDigit(c);
            if (digit < 0)
                fail(keyText(key) + "bad hex: '" + std::string(1, c) + "' at position " +
                     std::to_string(i));
            if (pending < 0) {
                pending = digit;
            } else {
                bytes.push_back(static_cast<std::uint8_t>(pending * 16 + digit));
                pending = -1;
            }
        }
        if (pending >= 0)
            fail(keyText(key) + "bad hex: odd number of digits");
        return bytes;
    }

    std::uint32_t status(const json& object, const char* key) const {
        const json& value = object.at(key);
        if (value.is_number_integer()) {
            if (value.is_number_unsigned() && value.get<std::uint64_t>() <= 0xFFFFFFFFu) {
                return static_cast<std::uint32_t>(value.get<std::uint64_t>());
            }
            fail(keyText(key) + value.dump() + " is out of range 0-0xffffffff");
        }
        if (!value.is_string())
            fail(keyText(key) + "expected a number or a \"0x...\" string, got " + typeOf(value));
        const auto& s = value.get_ref<const std::string&>();
        if (s.size() < 3 || s.size() > 10 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) {
            fail(keyText(key) + quoted(s) + " is not a \"0x...\" number of at most 8 hex digits");
        }
        std::uint32_t result = 0;
        for (std::size_t i = 2; i < s.size(); ++i) {
            const int digit = HexDigit(s[i]);
            if (digit < 0)
                fail(keyText(key) + "bad hex: '" + escaped(std::string(1, s[i])) + "' in " +
                     quoted(s));
            result = result * 16 + static_cast<std::uint32_t>(digit);
        }
        return result;
    }

    static std::string keyText(const char* key) { return std::string("key \"") + key + "\": "; }

    // The file's own text in a message that must stay one printable line (it ends up in a
    // trace line and a message box): quoted and escaped as JSON would write it, in ASCII.
    static std::string quoted(const std::string& s) {
        return json(s).dump(-1, ' ', true, json::error_handler_t::replace);
    }
    static std::string escaped(const std::string& s) {
        const auto text = quoted(s);
        return text.substr(1, text.size() - 2);
    }

private:
    static int HexDigit(char c) {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }
    static std::string typeOf(const json& value) {
        if (value.is_number_float())
            return "a fraction";
        return value.type_name();
    }
    static std::string range(std::int64_t low, std::int64_t high) {
        return std::to_string(low) + "-" + std::to_string(high);
    }

    std::string context_;
};

FaultRule ReadFault(const json& entry, const std::string& context) {
    Reader reader(context);
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
    Reader reader(context);
    if (!entry.is_object())
        reader.fail("expected an object");
    reader.onlyKeys(entry, {"type", "qualifier", "vendor", "product", "revision", "inquiry",
                            "host_adapter", "target", "lun", "medium", "sense",
                            "power_on_attention", "activation_polls", "check_image", "faults",
                            "serial", "serial_hex", "tape_in_use"});
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
    Reader reader(source + ": ");
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
                        Reader::quoted(serial) + " is device " + std::to_string(first->second) +
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

// "line L, column C" of the byte nlohmann reports (1-based count of bytes read).
std::string Where(std::string_view text, std::size_t byte) {
    std::size_t line = 1;
    std::size_t column = 0;
    for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 0;
        } else {
            ++column;
        }
    }
    if (column == 0)
        column = 1;
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// nlohmann's message without its "[json.exception...] parse error at line x, column y: " head.
std::string Reason(const std::string& what) {
    const auto column = what.find("column ");
    const auto colon = what.find(": ", column == std::string::npos ? 0 : column);
    return colon == std::string::npos ? what : what.substr(colon + 2);
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
    try {
        top = json::parse(text.begin(), text.end());
    } catch (const json::parse_error& error) {
        return ConfigError{sourceName + ": " + Where(text, error.byte) +
                           ": JSON syntax error: " + Reason(error.what())};
    } catch (const json::exception& error) {
        return ConfigError{sourceName + ": JSON error: " + Reason(error.what())};
    }
    try {
        return ReadTop(top, sourceName);
    } catch (const Problem& problem) {
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

KeptStateOutcome LoadKeptState(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT)
            return KeptState{};
        return ConfigError{path + ": cannot open: " + std::strerror(errno)};
    }
    std::ostringstream content;
    content << file.rdbuf();
    if (file.bad())
        return ConfigError{path + ": cannot read"};
    const std::string text = content.str();
    json top;
    try {
        top = json::parse(text);
    } catch (const json::parse_error& error) {
        return ConfigError{path + ": " + Where(text, error.byte) +
                           ": JSON syntax error: " + Reason(error.what())};
    } catch (const json::exception& error) {
        return ConfigError{path + ": JSON error: " + Reason(error.what())};
    }
    try {
        Reader reader(path + ": ");
        if (!top.is_object())
            reader.fail("expected an object at the top level");
        reader.onlyKeys(top, {"drives"});
        KeptState state;
        if (!top.contains("drives"))
            return state;
        const json& drives = top.at("drives");
        if (!drives.is_object())
            reader.fail("key \"drives\": expected an object, got " +
                        std::string(drives.type_name()));
        for (const auto& drive : drives.items()) {
            const Reader entry(path + ": drive " + Reader::quoted(drive.key()) + ": ");
            if (!drive.value().is_object())
                entry.fail("expected an object");
            entry.onlyKeys(drive.value(), {"revision"});
            const auto revision = entry.text(drive.value(), "revision", 4);
            if (!revision || revision->size() != 4)
                entry.fail("key \"revision\": expected 4 characters");
            state.revisions[drive.key()] = *revision;
        }
        return state;
    } catch (const Problem& problem) {
        return ConfigError{problem.message};
    }
}

std::string SaveKeptState(const std::string& path, const KeptState& state) {
    json drives = json::object();
    for (const auto& [serial, revision] : state.revisions)
        drives[serial] = {{"revision", revision}};
    const std::string text = json{{"drives", drives}}.dump(2) + "\n";
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        return temporary + ": cannot create: " + std::strerror(errno);
    bool written =
        std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fflush(file) == 0;
    // On the disk before the rename makes it the state: a power cut must not leave an
    // empty file behind the new name.
#ifdef _WIN32
    written = written && _commit(_fileno(file)) == 0;
#else
    written = written && ::fsync(fileno(file)) == 0;
#endif
    written = std::fclose(file) == 0 && written;
    std::error_code error;
    if (written)
        std::filesystem::rename(temporary, path, error);
    if (!written || error) {
        const std::string why = written ? error.message() : "cannot write";
        std::filesystem::remove(temporary, error);
        return (written ? path : temporary) + ": " + why;
    }
    return {};
}

std::string UpdateKeptState(const std::string& path, const std::string& serial,
                            const std::string& revision) {
    // Creating a folder is atomic on every system: the one process that made it holds the
    // lock. One left by a process that died is broken after a while.
    const std::filesystem::path lock = path + ".lock";
    constexpr auto kPatience = std::chrono::seconds(10);
    const auto since = std::chrono::steady_clock::now();
    std::error_code error;
    while (!std::filesystem::create_directory(lock, error)) {
        if (error)
            return lock.string() + ": " + error.message();
        if (std::chrono::steady_clock::now() - since > kPatience) {
            std::filesystem::remove(lock, error);
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    KeptStateOutcome loaded = LoadKeptState(path);
    std::string outcome;
    if (auto* state = std::get_if<KeptState>(&loaded)) {
        state->revisions[serial] = revision;
        outcome = SaveKeptState(path, *state);
    } else {
        outcome = std::get<ConfigError>(loaded).message;
    }
    std::filesystem::remove(lock, error);
    return outcome;
}

void ApplyKeptState(const KeptState& state, EmulationConfig& config) {
    for (DeviceConfig& device : config.devices) {
        const auto kept = state.revisions.find(device.drive.serial);
        if (kept == state.revisions.end())
            continue;
        std::copy(kept->second.begin(), kept->second.end(), device.drive.inquiry.begin() + 32);
    }
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

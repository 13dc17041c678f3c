// Reading the JSON files of the emulation (the emulation file, the state file) with one kind
// of message: each names the file and the place in it, and stays one printable line (it ends
// up in a trace line and a message box).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace zurvax {

// Thrown by JsonReader::fail with a finished message; the parsers catch it at their top and
// turn it into their error result, so it never leaves the library.
struct JsonProblem {
    std::string message;
};

// Checks the values of one object of a file; context prefixes every message, e.g.
// "emulation.json: device 1: ".
class JsonReader {
public:
    explicit JsonReader(std::string context) : context_(std::move(context)) {}

    [[noreturn]] void fail(const std::string& what) const { throw JsonProblem{context_ + what}; }

    void onlyKeys(const nlohmann::json& object,
                  std::initializer_list<std::string_view> keys) const {
        for (const auto& item : object.items()) {
            bool known = false;
            for (const auto key : keys)
                known = known || item.key() == key;
            if (!known)
                fail("key " + quoted(item.key()) + ": unknown key");
        }
    }

    std::int64_t integer(const nlohmann::json& object, const char* key, std::int64_t low,
                         std::int64_t high, std::int64_t fallback) const {
        if (!object.contains(key))
            return fallback;
        const nlohmann::json& value = object.at(key);
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

    bool boolean(const nlohmann::json& object, const char* key, bool fallback) const {
        if (!object.contains(key))
            return fallback;
        const nlohmann::json& value = object.at(key);
        if (!value.is_boolean())
            fail(keyText(key) + "expected true or false, got " + typeOf(value));
        return value.get<bool>();
    }

    std::optional<std::string> text(const nlohmann::json& object, const char* key,
                                    std::size_t maxLength) const {
        if (!object.contains(key))
            return std::nullopt;
        const nlohmann::json& value = object.at(key);
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

    std::optional<std::vector<std::uint8_t>> hex(const nlohmann::json& object,
                                                 const char* key) const {
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

    std::uint32_t status(const nlohmann::json& object, const char* key) const {
        const nlohmann::json& value = object.at(key);
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
        return nlohmann::json(s).dump(-1, ' ', true, nlohmann::json::error_handler_t::replace);
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
    static std::string typeOf(const nlohmann::json& value) {
        if (value.is_number_float())
            return "a fraction";
        return value.type_name();
    }
    static std::string range(std::int64_t low, std::int64_t high) {
        return std::to_string(low) + "-" + std::to_string(high);
    }

    std::string context_;
};

// Parses text into top. Empty on success, else the message: "<source>: line L, column C: JSON
// syntax error: <why>" or "<source>: JSON error: <why>".
std::string ParseJsonText(std::string_view text, const std::string& source, nlohmann::json& top);

} // namespace zurvax

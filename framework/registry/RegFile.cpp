#include "framework/registry/RegFile.h"

#include <cctype>
#include <cstdlib>

namespace fw::registry {
namespace {

constexpr std::uint32_t kString = 1;
constexpr std::uint32_t kExpandString = 2;
constexpr std::uint32_t kBinary = 3;
constexpr std::uint32_t kDword = 4;
constexpr std::uint32_t kMultiString = 7;

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

// UTF-16LE to 8-bit: characters above 0xFF cannot be shown in the 8-bit code page and
// become '?', as the system's conversion does for unmappable characters.
std::string Narrow(std::string_view utf16) {
    std::string result;
    result.reserve(utf16.size() / 2);
    for (std::size_t i = 0; i + 1 < utf16.size(); i += 2) {
        const unsigned code =
            static_cast<unsigned char>(utf16[i]) |
            (static_cast<unsigned>(static_cast<unsigned char>(utf16[i + 1])) << 8);
        result.push_back(code <= 0xFF ? static_cast<char>(code) : '?');
    }
    return result;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// Reads a quoted string starting at text[0] == '"'; returns the unescaped text and the
// count of characters consumed, or nothing when the quote is not closed.
std::optional<std::pair<std::string, std::size_t>> Quoted(std::string_view text) {
    std::string result;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            result.push_back(text[++i]);
        } else if (c == '"') {
            return std::make_pair(result, i + 1);
        } else {
            result.push_back(c);
        }
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    std::string token;
    auto flush = [&]() -> bool {
        if (token.empty()) {
            return true;
        }
        if (token.size() > 2) {
            return false;
        }
        for (char c : token) {
            if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
                return false;
            }
        }
        bytes.push_back(static_cast<std::uint8_t>(std::strtoul(token.c_str(), nullptr, 16)));
        token.clear();
        return true;
    };
    for (char c : text) {
        if (c == ',') {
            if (!flush()) {
                return std::nullopt;
            }
        } else if (c != ' ' && c != '\t') {
            token.push_back(c);
        }
    }
    if (!flush()) {
        return std::nullopt;
    }
    return bytes;
}

// The file's text in 8-bit characters, whatever encoding regedit wrote it in.
std::string Decode(std::string_view fileBytes) {
    if (fileBytes.size() >= 2 && static_cast<unsigned char>(fileBytes[0]) == 0xFF &&
        static_cast<unsigned char>(fileBytes[1]) == 0xFE) {
        return Narrow(fileBytes.substr(2));
    }
    if (fileBytes.size() >= 3 && fileBytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return std::string(fileBytes.substr(3));
    }
    return std::string(fileBytes);
}

struct Line {
    std::string text;
    int number; // where it starts in the file, for messages
};

// Logical lines: a trailing backslash continues a hex list on the next line.
std::vector<Line> LogicalLines(const std::string& text) {
    std::vector<Line> lines;
    std::string current;
    int lineNumber = 0;
    int startLine = 1;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
        ++lineNumber;
        if (current.empty()) {
            startLine = lineNumber;
        }
        // A value line, or a line that continues one, ending in a backslash goes on.
        const bool continues = !line.empty() && line.back() == '\\' &&
                               (!current.empty() || line.find('=') != std::string_view::npos);
        if (continues) {
            current += line.substr(0, line.size() - 1);
        } else {
            current += line;
            lines.push_back({current, startLine});
            current.clear();
        }
        pos = end + 1;
    }
    return lines;
}

// A "[key]" or "[-key]" line: the key values that follow go to, or nullptr when they are
// to be ignored (a deleted key, a malformed line).
std::map<std::string, Value>* KeyLine(Hive& hive, std::string_view line) {
    const auto close = line.rfind(']');
    if (close == std::string_view::npos) {
        return nullptr;
    }
    std::string_view path = line.substr(1, close - 1);
    if (!path.empty() && path.front() == '-') {
        const std::string gone = CanonicalKeyPath(path.substr(1));
        for (auto it = hive.begin(); it != hive.end();) {
            it = (it->first == gone || it->first.rfind(gone + "\\", 0) == 0) ? hive.erase(it)
                                                                             : std::next(it);
        }
        return nullptr;
    }
    return &hive[CanonicalKeyPath(path)];
}

// The name (upper case) and the text after '=' of a value line.
std::optional<std::pair<std::string, std::string_view>> ValueLine(std::string_view line) {
    std::string name;
    std::size_t at = 0;
    if (line.front() == '@') {
        at = 1;
    } else if (line.front() == '"') {
        const auto quoted = Quoted(line);
        if (!quoted) {
            return std::nullopt;
        }
        name = quoted->first;
        at = quoted->second;
    } else {
        return std::nullopt;
    }
    std::string_view rest = Trim(line.substr(at));
    if (rest.empty() || rest.front() != '=') {
        return std::nullopt;
    }
    return std::make_pair(Upper(name), Trim(rest.substr(1)));
}

std::optional<Value> DwordValue(std::string_view digits) {
    if (digits.size() != 8) {
        return std::nullopt;
    }
    const std::string copy(digits);
    char* end = nullptr;
    const unsigned long number = std::strtoul(copy.c_str(), &end, 16);
    if (end != copy.c_str() + copy.size()) {
        return std::nullopt;
    }
    Value value;
    value.type = kDword;
    for (int b = 0; b < 4; ++b) {
        value.bytes.push_back(static_cast<std::uint8_t>((number >> (8 * b)) & 0xFF));
    }
    return value;
}

// "hex:..." or "hex(n):...", given what follows "hex".
std::optional<Value> HexValue(std::string_view typeAndData, bool unicodeFormat) {
    Value value;
    value.type = kBinary;
    if (!typeAndData.empty() && typeAndData.front() == '(') {
        const auto close = typeAndData.find(')');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string typeText(typeAndData.substr(1, close - 1));
        char* end = nullptr;
        value.type = static_cast<std::uint32_t>(std::strtoul(typeText.c_str(), &end, 16));
        if (typeText.empty() || end != typeText.c_str() + typeText.size()) {
            return std::nullopt;
        }
        typeAndData = typeAndData.substr(close + 1);
    }
    if (typeAndData.empty() || typeAndData.front() != ':') {
        return std::nullopt;
    }
    auto bytes = HexBytes(typeAndData.substr(1));
    if (!bytes) {
        return std::nullopt;
    }
    value.bytes = std::move(*bytes);
    // The version 5 format keeps string types in UTF-16; the ANSI query narrows them.
    if (unicodeFormat &&
        (value.type == kString || value.type == kExpandString || value.type == kMultiString)) {
        const std::string narrow = Narrow(std::string_view(
            reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size()));
        value.bytes.assign(narrow.begin(), narrow.end());
    }
    return value;
}

// The value a value line's data stands for, or nothing when it is malformed.
std::optional<Value> ParseValue(std::string_view data, bool unicodeFormat) {
    if (!data.empty() && data.front() == '"') {
        const auto quoted = Quoted(data);
        if (!quoted) {
            return std::nullopt;
        }
        Value value;
        value.type = kString;
        value.bytes.assign(quoted->first.begin(), quoted->first.end());
        value.bytes.push_back(0);
        return value;
    }
    if (data.rfind("dword:", 0) == 0) {
        return DwordValue(data.substr(6));
    }
    if (data.rfind("hex", 0) == 0) {
        return HexValue(data.substr(3), unicodeFormat);
    }
    return std::nullopt;
}

} // namespace

std::string CanonicalKeyPath(std::string_view path) {
    std::string upper = Upper(path);
    static constexpr std::pair<std::string_view, std::string_view> kShort[] = {
        {"HKCR", "HKEY_CLASSES_ROOT"},
        {"HKLM", "HKEY_LOCAL_MACHINE"},
        {"HKCU", "HKEY_CURRENT_USER"},
    };
    for (const auto& [shortName, longName] : kShort) {
        if (upper.compare(0, shortName.size(), shortName) == 0 &&
            (upper.size() == shortName.size() || upper[shortName.size()] == '\\')) {
            upper = std::string(longName) + upper.substr(shortName.size());
        }
    }
    while (!upper.empty() && upper.back() == '\\') {
        upper.pop_back();
    }
    return upper;
}

ParseResult Parse(std::string_view fileBytes) {
    const std::vector<Line> lines = LogicalLines(Decode(fileBytes));

    ParseResult result;
    std::size_t first = 0;
    while (first < lines.size() && lines[first].text.empty()) {
        ++first;
    }
    if (first == lines.size() || (lines[first].text != "REGEDIT4" &&
                                  lines[first].text != "Windows Registry Editor Version 5.00")) {
        result.error = "line 1: not a registry file (no REGEDIT4 or version 5.00 header)";
        return result;
    }
    const bool unicodeFormat = lines[first].text != "REGEDIT4";

    Hive hive;
    std::map<std::string, Value>* key = nullptr;
    for (std::size_t i = first + 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i].text;
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            key = KeyLine(hive, line);
            continue;
        }
        const auto nameAndData = key != nullptr ? ValueLine(line) : std::nullopt;
        if (!nameAndData) {
            continue;
        }
        const auto& [name, data] = *nameAndData;
        if (data == "-") {
            key->erase(name);
        } else if (auto value = ParseValue(data, unicodeFormat)) {
            (*key)[name] = std::move(*value);
        }
    }
    result.hive = std::move(hive);
    return result;
}

} // namespace fw::registry

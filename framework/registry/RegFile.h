// A reader of Windows registry export files (.reg), standing in for the registry where
// there is none. It understands what regedit writes: the "REGEDIT4" and "Windows Registry
// Editor Version 5.00" headers (the latter usually UTF-16LE with a byte-order mark), key
// sections with deletions, and string, hex, hex(n) and dword values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fw::registry {

struct Value {
    std::uint32_t type = 0;          // REG_SZ 1, REG_EXPAND_SZ 2, REG_BINARY 3, REG_DWORD 4, ...
    std::vector<std::uint8_t> bytes; // as RegQueryValueExA returns them (strings with their zero)
};

// Keys by full path in upper case ("HKEY_CLASSES_ROOT\QUORVEL"); values by name in upper
// case ("" is the default value).
using Hive = std::map<std::string, std::map<std::string, Value>>;

struct ParseResult {
    std::optional<Hive> hive; // nothing when the file is not a registry export
    std::string error;        // what is wrong, with the line number
};

// Parses the bytes of a whole .reg file. Malformed value lines are skipped, as regedit
// skips them; a missing header is an error.
ParseResult Parse(std::string_view fileBytes);

// The root key names the files use for the short forms (HKCR -> HKEY_CLASSES_ROOT).
std::string CanonicalKeyPath(std::string_view path);

} // namespace fw::registry

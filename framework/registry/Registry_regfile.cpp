// The registry where the system has none: a Windows .reg file, named by the environment
// variable FWUPGRADE_REGISTRY (default /etc/fwupgrade/fwupgrade.reg), read afresh at every
// key open. The same file imported on Windows gives the same answers.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "framework/fw.h"
#include "framework/registry/RegFile.h"

namespace fw {
namespace {

constexpr const char kDefaultRegistryFile[] = "/etc/fwupgrade/fwupgrade.reg";

struct OpenKey {
    std::map<std::string, registry::Value> values;
};

std::string UpperName(const char* name) {
    std::string result = name != nullptr ? name : "";
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

} // namespace

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) {
    (void)options;
    (void)access; // a file grants the same to every access mask
    if (result == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    *result = nullptr;
    if (root != HKEY_CLASSES_ROOT) {
        return ERROR_FILE_NOT_FOUND;
    }
    const char* path = std::getenv("FWUPGRADE_REGISTRY");
    std::ifstream file(path != nullptr && *path != '\0' ? path : kDefaultRegistryFile,
                       std::ios::binary);
    if (!file) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    registry::ParseResult parsed = registry::Parse(bytes);
    if (!parsed.hive) {
        return ERROR_FILE_NOT_FOUND;
    }
    const std::string wanted = registry::CanonicalKeyPath(std::string("HKEY_CLASSES_ROOT\\") +
                                                          (subKey != nullptr ? subKey : ""));
    const auto key = parsed.hive->find(wanted);
    if (key == parsed.hive->end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    *result = reinterpret_cast<HKEY>(new OpenKey{key->second});
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size) {
    (void)reserved;
    auto* open = reinterpret_cast<OpenKey*>(key);
    if (open == nullptr) {
        return ERROR_FILE_NOT_FOUND;
    }
    const auto value = open->values.find(UpperName(valueName));
    if (value == open->values.end()) {
        return ERROR_FILE_NOT_FOUND;
    }
    const auto needed = static_cast<DWORD>(value->second.bytes.size());
    if (type != nullptr) {
        *type = value->second.type;
    }
    if (data == nullptr) {
        if (size != nullptr) {
            *size = needed;
        }
        return ERROR_SUCCESS;
    }
    if (size == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    if (*size < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    if (needed != 0) {
        std::memcpy(data, value->second.bytes.data(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    delete reinterpret_cast<OpenKey*>(key);
    return ERROR_SUCCESS;
}

} // namespace fw

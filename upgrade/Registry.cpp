#include "upgrade/Registry.h"

#include <cstring>
#include <vector>

namespace {
constexpr char kToolKey[] = "QUORVEL";
} // namespace

BOOL ReadToolRegistryValue(const char* valueName, BYTE* buffer, DWORD size) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kToolKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return FALSE;
    }
    // Read into a copy: a value too large for the buffer may leave the system's output
    // buffer undefined, and the caller's default must survive that.
    std::vector<BYTE> value(size);
    DWORD type = 0;
    DWORD got = size;
    const LONG result = RegQueryValueExA(key, valueName, nullptr, &type, value.data(), &got);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || got > size) {
        return FALSE;
    }
    std::memcpy(buffer, value.data(), got);
    return TRUE;
}

// The system registry, through the ANSI calls.
#include <windows.h>

#include "framework/fw.h"

namespace fw {

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access, HKEY* result) {
    return ::RegOpenKeyExA(reinterpret_cast<::HKEY>(root), subKey, options, access,
                           reinterpret_cast<::HKEY*>(result));
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                      DWORD* size) {
    static_assert(sizeof(DWORD) == sizeof(::DWORD));
    return ::RegQueryValueExA(
        reinterpret_cast<::HKEY>(key), valueName, reinterpret_cast<::LPDWORD>(reserved),
        reinterpret_cast<::LPDWORD>(type), data, reinterpret_cast<::LPDWORD>(size));
}

LONG RegCloseKey(HKEY key) { return ::RegCloseKey(reinterpret_cast<::HKEY>(key)); }

} // namespace fw

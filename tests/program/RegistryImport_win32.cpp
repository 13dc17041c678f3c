// Kept apart from the framework's headers: windows.h names the same types.
#include <windows.h>

#include <gtest/gtest.h>

#include "framework/registry/RegFile.h"
#include "tests/program/RegistryImport.h"

namespace program::test {

void ImportRegistryText(const std::string& regText) {
    ::RegDeleteKeyA(HKEY_CLASSES_ROOT, "QUORVEL");
    if (regText.empty())
        return;
    const auto parsed = fw::registry::Parse(regText);
    ASSERT_TRUE(parsed.hive) << parsed.error;
    const auto key = parsed.hive->find("HKEY_CLASSES_ROOT\\QUORVEL");
    if (key == parsed.hive->end())
        return;
    HKEY handle = nullptr;
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CLASSES_ROOT, "QUORVEL", 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    for (const auto& [name, value] : key->second) {
        ::RegSetValueExA(handle, name.c_str(), 0, value.type, value.bytes.data(),
                         static_cast<DWORD>(value.bytes.size()));
    }
    ::RegCloseKey(handle);
}

} // namespace program::test

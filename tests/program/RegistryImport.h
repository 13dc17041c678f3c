// Where the program reads the system registry, tests put the .reg text into it.
#pragma once

#include <string>

namespace program::test {

#ifdef _WIN32
// Replaces HKEY_CLASSES_ROOT\QUORVEL with what the .reg text says (empty: removes the key).
void ImportRegistryText(const std::string& regText);
#endif

} // namespace program::test

// The program's one configuration value, read from the registry.
#pragma once

#include "framework/afxwin.h"

// Reads the value valueName under HKEY_CLASSES_ROOT\QUORVEL into buffer (size bytes).
// TRUE when the whole value was read; otherwise the buffer is left untouched. The key is
// opened for querying only, so an account without administrator rights reads it too.
BOOL ReadToolRegistryValue(const char* valueName, BYTE* buffer, DWORD size);

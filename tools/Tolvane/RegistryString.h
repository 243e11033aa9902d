#pragma once
#include <string>

// Reads a string value below HKEY_LOCAL_MACHINE (KEY_READ, the 64-bit view)
// of at most 259 characters. True only when the key opened and the value read.
bool readRegistryString(const wchar_t* subkey, const wchar_t* valueName, std::wstring& value);

#pragma once
// Finds the maker's trust-validation library, checks that it carries a valid
// signature, loads it and asks it for an interface by name.
#include <windows.h>

#include <string>

// Where the validation service records itself.
struct TrustServiceKey {
    HKEY root = HKEY_LOCAL_MACHINE;
    std::wstring path = L"Software\\Corvane\\Tolgar";
};

// A library name of fewer than 3 characters, starting with "\" or with ":"
// second is a full path and used as it is; otherwise the install folder, then
// the current folder, then the folder of `base` (null: the host program).
// The library stays loaded when it handed out an interface.
DWORD NotComDllGetInterface(const wchar_t* name, const char* interfaceName, void** out, HMODULE base);
DWORD NotComDllGetInterface(const TrustServiceKey& key, const wchar_t* name, const char* interfaceName, void** out,
                            HMODULE base);

// install folder + "\" + name, from the service key's "szInstallDir64"
// ("szInstallDir32" when use32); false, with an empty buffer, when the value
// cannot be read or the whole path does not fit the capacity.
bool NotComDllGetInstallPath(bool use32, const wchar_t* name, wchar_t* buffer, DWORD capacity);
bool NotComDllGetInstallPath(const TrustServiceKey& key, bool use32, const wchar_t* name, wchar_t* buffer,
                             DWORD capacity);

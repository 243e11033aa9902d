#include "SignedLibraryTrust.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace TrustKit {

namespace {

std::wstring kitFolder()
{
    const char* narrow = TRUST_KIT_DIR_WINE;
    return std::wstring(narrow, narrow + strlen(narrow));
}

} // namespace

std::wstring kitPath(const std::wstring& name)
{
    return kitFolder() + L"\\" + name;
}

void trustSignedLibraries()
{
    // The validator reads the service key in the 32-bit view.
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Corvane\\Tolgar", 0, nullptr, 0,
                        KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        const std::wstring folder = kitFolder();
        RegSetValueExW(key, L"szInstallDir64", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    // Both vouching bits, whichever service version the validator assumes.
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_VERDICT", L"2,9");
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_SIGNED_ONLY", L"1");
}

namespace {

// Every test of a program that installs the signed bus double runs with it.
class SignedLibraryTrust : public ::testing::Environment {
public:
    void SetUp() override { trustSignedLibraries(); }
};

const ::testing::Environment* const g_environment = ::testing::AddGlobalTestEnvironment(new SignedLibraryTrust);

} // namespace

} // namespace TrustKit

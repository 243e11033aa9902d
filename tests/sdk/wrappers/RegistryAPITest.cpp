#include "wrappers/RegistryAPI.h"

#include "ModuleStatus.h"
#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <string>

using Ostrand::RegistryAPI;
using TestSupport::ScratchRegistryKey;

namespace {

void setString(const ScratchRegistryKey& key, const std::wstring& name, const std::wstring& text, DWORD type = REG_SZ)
{
    key.setRaw(name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

struct StringCase {
    const char* what;
    std::wstring valueName;
    uint32_t status;
    std::wstring expected; // the out-value afterwards; it starts as "before"
};

} // namespace

TEST(RegistryAPI, ReadStringFromTheMachineHive)
{
    ScratchRegistryKey key(HKEY_LOCAL_MACHINE);
    setString(key, L"Plain", L"C:\\Program Files\\Strova");
    setString(key, L"Expand", L"%SystemRoot%\\x", REG_EXPAND_SZ);
    setString(key, L"Empty", L"");
    setString(key, L"Longest", std::wstring(259, L'a'));
    setString(key, L"TooLong", std::wstring(260, L'b'));
    const DWORD number = 7;
    key.setRaw(L"Number", REG_DWORD, &number, sizeof(number));

    const StringCase cases[] = {
        {"plain string", L"Plain", MODULE_STATUS_SUCCESS, L"C:\\Program Files\\Strova"},
        {"expandable string, not expanded", L"Expand", MODULE_STATUS_SUCCESS, L"%SystemRoot%\\x"},
        {"empty string", L"Empty", MODULE_STATUS_SUCCESS, L""},
        {"259 characters fit", L"Longest", MODULE_STATUS_SUCCESS, std::wstring(259, L'a')},
        {"260 characters are refused, not cut", L"TooLong", MODULE_STATUS_UNSUCCESSFUL, L"before"},
        {"missing value", L"Missing", MODULE_STATUS_UNSUCCESSFUL, L"before"},
        {"wrong type", L"Number", MODULE_STATUS_UNSUCCESSFUL, L"before"},
        {"name with a NUL inside", std::wstring(L"Plain\0x", 7), MODULE_STATUS_UNSUCCESSFUL, L"before"},
    };
    RegistryAPI api;
    for (const StringCase& c : cases) {
        std::wstring text = L"before";
        EXPECT_EQ(c.status, api.readString(key.path(), c.valueName, text)) << c.what;
        EXPECT_EQ(c.expected, text) << c.what;
    }
}

TEST(RegistryAPI, MissingKeyLeavesAnEmptyStringEmpty)
{
    RegistryAPI api;
    std::wstring text;
    EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, api.readString(L"SOFTWARE\\NoSuchVendorKey\\Missing", L"Install Dir", text));
    EXPECT_TRUE(text.empty());
}

TEST(RegistryAPI, ReadsOnlyTheMachineHive)
{
    ScratchRegistryKey userKey(HKEY_CURRENT_USER);
    setString(userKey, L"Value", L"user");
    RegistryAPI api;
    std::wstring text = L"before";
    EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, api.readString(userKey.path(), L"Value", text));
    EXPECT_EQ(L"before", text);
}

TEST(RegistryAPI, ReadDword)
{
    ScratchRegistryKey key(HKEY_LOCAL_MACHINE);
    const DWORD number = 0xA5A5F00Du;
    key.setRaw(L"Number", REG_DWORD, &number, sizeof(number));
    const WORD half = 3;
    key.setRaw(L"Short", REG_DWORD, &half, sizeof(half));
    setString(key, L"Text", L"12");

    RegistryAPI api;
    uint32_t value = 1;
    EXPECT_EQ(MODULE_STATUS_SUCCESS, api.readDword(key.path(), L"Number", value));
    EXPECT_EQ(0xA5A5F00Du, value);
    for (const wchar_t* name : {L"Short", L"Text", L"Missing"}) {
        value = 1;
        EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, api.readDword(key.path(), name, value)) << TestSupport::narrow(name);
        EXPECT_EQ(1u, value);
    }
    EXPECT_EQ(MODULE_STATUS_UNSUCCESSFUL, api.readDword(key.path() + L"\\Missing", L"Number", value));
}

#include "Registry/CRegKey.h"

#include "RegistryAccess.h"
#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <cstring>
#include <string>
#include <vector>

using Halvex::CRegKey;
using Halvex::internal::CRegKeyImpl;
using TestSupport::ScratchRegistryKey;

namespace {

bool keyExists(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void createKey(HKEY root, const std::wstring& path, REGSAM view = 0)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr));
    RegCloseKey(key);
}

// True when the handle still refers to an open key.
bool handleIsOpen(HKEY key)
{
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS;
}

std::string bytesOf(const std::wstring& text, bool withNul)
{
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + (withNul ? 1 : 0)) * 2);
}

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, scratch.handle());
        ASSERT_EQ(ERROR_SUCCESS, key.Open(scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
    }
    std::wstring sub(const std::wstring& relative) const { return scratch.path() + L"\\" + relative; }

    ScratchRegistryKey scratch;
    CRegKey key;
};

} // namespace

TEST_F(RegKeyTest, OpenAndCreateReplaceTheHeldKeyOnlyOnSuccess)
{
    createKey(HKEY_CURRENT_USER, sub(L"child"));
    const HKEY first = key.GetHandle();

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, sub(L"missing").c_str()));
    EXPECT_EQ(first, key.GetHandle());
    EXPECT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"still", 1));

    // A read-only parent cannot create below it: the failure leaves the key
    // as it was and reports no disposition.
    // A volatile parent refuses a non-volatile child: the failure leaves the
    // key as it was and reports no disposition.
    CRegKey volatileParent;
    ASSERT_EQ(ERROR_SUCCESS, volatileParent.Create(HKEY_CURRENT_USER, sub(L"volatile").c_str(), nullptr,
                                                   REG_OPTION_VOLATILE, KEY_ALL_ACCESS));
    DWORD disposition = 99;
    EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, key.Create(volatileParent.GetHandle(), L"new", nullptr,
                                                       REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(0u, disposition);
    EXPECT_EQ(first, key.GetHandle());
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"volatile\\new")));

    EXPECT_EQ(ERROR_SUCCESS, key.Open(HKEY_CURRENT_USER, sub(L"child").c_str()));
    EXPECT_NE(first, key.GetHandle());
    EXPECT_FALSE(handleIsOpen(first));
    EXPECT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"inChild", 2));
    DWORD type = 0;
    std::string bytes;
    EXPECT_FALSE(scratch.getRaw(L"inChild", type, bytes));

    const HKEY second = key.GetHandle();
    EXPECT_EQ(ERROR_SUCCESS,
              key.Create(HKEY_CURRENT_USER, sub(L"created").c_str(), nullptr, 0, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    EXPECT_FALSE(handleIsOpen(second));
    EXPECT_EQ(ERROR_SUCCESS,
              key.Create(HKEY_CURRENT_USER, sub(L"created").c_str(), nullptr, 0, KEY_ALL_ACCESS, nullptr, &disposition));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
}

TEST_F(RegKeyTest, CloseOfAClosedKeySucceedsAndDeleteOnCloseEmptiesTheKey)
{
    createKey(HKEY_CURRENT_USER, sub(L"doomed\\a\\deep"));
    createKey(HKEY_CURRENT_USER, sub(L"doomed\\b"));

    CRegKeyImpl impl;
    EXPECT_EQ(ERROR_SUCCESS, impl.Close());
    ASSERT_EQ(ERROR_SUCCESS, impl.Open(HKEY_CURRENT_USER, sub(L"doomed").c_str(), KEY_ALL_ACCESS));
    impl.SetDeleteOnClose(true);
    EXPECT_TRUE(impl.GetDeleteOnClose());
    EXPECT_EQ(ERROR_SUCCESS, impl.Close());
    EXPECT_EQ(nullptr, impl.GetHandle());
    EXPECT_FALSE(impl.GetDeleteOnClose());
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"doomed\\a")));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"doomed\\b")));
    EXPECT_EQ(ERROR_SUCCESS, impl.Close());
}

TEST_F(RegKeyTest, OpenCreateAttachAndDetachClearDeleteOnClose)
{
    createKey(HKEY_CURRENT_USER, sub(L"keep\\child"));
    CRegKeyImpl impl;
    ASSERT_EQ(ERROR_SUCCESS, impl.Open(HKEY_CURRENT_USER, sub(L"keep").c_str(), KEY_ALL_ACCESS));

    impl.SetDeleteOnClose(true);
    ASSERT_EQ(ERROR_SUCCESS, impl.Open(HKEY_CURRENT_USER, sub(L"keep").c_str(), KEY_ALL_ACCESS));
    EXPECT_FALSE(impl.GetDeleteOnClose());
    // The replaced key was closed with its flag set: that emptied it.
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"keep\\child")));
    createKey(HKEY_CURRENT_USER, sub(L"keep\\child"));

    createKey(HKEY_CURRENT_USER, sub(L"other\\child"));
    impl.SetDeleteOnClose(true);
    ASSERT_EQ(ERROR_SUCCESS, impl.Create(HKEY_CURRENT_USER, sub(L"other").c_str()));
    EXPECT_FALSE(impl.GetDeleteOnClose());
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"keep\\child")));

    impl.SetDeleteOnClose(true);
    HKEY detached = impl.Detach();
    EXPECT_FALSE(impl.GetDeleteOnClose());
    impl.SetDeleteOnClose(true);
    impl.Attach(detached);
    EXPECT_FALSE(impl.GetDeleteOnClose());
    EXPECT_EQ(ERROR_SUCCESS, impl.Close());
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, sub(L"other\\child")));
}

TEST_F(RegKeyTest, DetachHandsTheOpenKeyOverAndAttachKeepsTheOldHandleOpen)
{
    const HKEY held = key.GetHandle();
    EXPECT_EQ(held, key.Detach());
    EXPECT_EQ(nullptr, key.GetHandle());
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(held, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>("\1\0\0\0"), 4));
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.SetDWORDValue(L"v", 1));

    HKEY other = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, scratch.path().c_str(), 0, KEY_ALL_ACCESS, &other));
    key.Attach(held);
    EXPECT_EQ(held, key.GetHandle());
    key.Attach(other);
    EXPECT_EQ(other, key.GetHandle());
    EXPECT_TRUE(handleIsOpen(held));
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"v", value));
    EXPECT_EQ(1u, value);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(held));
}

TEST_F(RegKeyTest, NumberQueriesCheckTypeAndSize)
{
    const uint8_t eight[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    scratch.setRaw(L"dword", REG_DWORD, eight, 4);
    scratch.setRaw(L"binary4", REG_BINARY, eight, 4);
    scratch.setRaw(L"shortDword", REG_DWORD, eight, 2);
    scratch.setRaw(L"longDword", REG_DWORD, eight, 8);
    scratch.setRaw(L"qword", REG_QWORD, eight, 8);
    scratch.setRaw(L"shortQword", REG_QWORD, eight, 4);
    scratch.setRaw(L"emptyDword", REG_DWORD, eight, 0);
    scratch.setRaw(L"text", REG_SZ, L"12", 6);

    struct Case {
        const wchar_t* name;
        LONG dword, qword;
    };
    const Case cases[] = {
        {L"dword", ERROR_SUCCESS, ERROR_INVALID_DATA},
        {L"binary4", ERROR_INVALID_DATA, ERROR_INVALID_DATA},
        // The system answers success with size 2 for these: half a number is no number.
        {L"shortDword", ERROR_INVALID_DATA, ERROR_INVALID_DATA},
        {L"emptyDword", ERROR_INVALID_DATA, ERROR_INVALID_DATA},
        {L"longDword", ERROR_MORE_DATA, ERROR_INVALID_DATA},
        {L"qword", ERROR_MORE_DATA, ERROR_SUCCESS},
        {L"shortQword", ERROR_INVALID_DATA, ERROR_INVALID_DATA},
        {L"text", ERROR_MORE_DATA, ERROR_INVALID_DATA},
        {L"missing", ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.name));
        DWORD dword = 0;
        ULONGLONG qword = 0;
        EXPECT_EQ(c.dword, key.QueryDWORDValue(c.name, dword));
        EXPECT_EQ(c.qword, key.QueryQWORDValue(c.name, qword));
        if (c.dword == ERROR_SUCCESS) {
            EXPECT_EQ(0x04030201u, dword);
        }
        if (c.qword == ERROR_SUCCESS) {
            EXPECT_EQ(0x0807060504030201ull, qword);
        }
    }
    DWORD fromBinary = 0;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"binary4", fromBinary));
    EXPECT_EQ(0x04030201u, fromBinary);

    uint8_t buffer[8] = {};
    DWORD size = sizeof(buffer);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryBinaryValue(L"binary4", buffer, &size));
    EXPECT_EQ(4u, size);
    size = sizeof(buffer);
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryBinaryValue(L"dword", buffer, &size));
    size = 2;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryBinaryValue(L"binary4", buffer, &size));
}

TEST_F(RegKeyTest, TypedWritesStoreWhatTheSystemExpects)
{
    EXPECT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"d", 0x11223344));
    EXPECT_EQ(ERROR_SUCCESS, key.SetQWORDValue(L"q", 0x1122334455667788ull));
    EXPECT_EQ(ERROR_SUCCESS, key.SetBinaryValue(L"b", "xyz", 3));
    EXPECT_EQ(ERROR_SUCCESS, key.SetStringValue(L"s", L"text"));
    EXPECT_EQ(ERROR_SUCCESS, key.SetStringValue(L"e", L"%TEMP%\\x", REG_EXPAND_SZ));
    EXPECT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(L"m", L"a\0bc\0"));

    struct Expect {
        const wchar_t* name;
        DWORD type;
        std::string bytes;
    };
    const Expect expected[] = {
        {L"d", REG_DWORD, std::string("\x44\x33\x22\x11", 4)},
        {L"q", REG_QWORD, std::string("\x88\x77\x66\x55\x44\x33\x22\x11", 8)},
        {L"b", REG_BINARY, "xyz"},
        {L"s", REG_SZ, bytesOf(L"text", true)},
        {L"e", REG_EXPAND_SZ, bytesOf(L"%TEMP%\\x", true)},
        {L"m", REG_MULTI_SZ, bytesOf(std::wstring(L"a\0bc\0", 5), true)},
    };
    for (const Expect& e : expected) {
        SCOPED_TRACE(TestSupport::narrow(e.name));
        DWORD type = 0;
        std::string bytes;
        ASSERT_TRUE(scratch.getRaw(e.name, type, bytes));
        EXPECT_EQ(e.type, type);
        EXPECT_EQ(e.bytes, bytes);
    }

    // Refused writes leave nothing behind.
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetValue(L"zero", REG_BINARY, "x", 0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetValue(L"zero", REG_BINARY, nullptr, 4));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetBinaryValue(L"zero", nullptr, 4));
    EXPECT_EQ(ERROR_INVALID_DATA, key.SetStringValue(L"zero", nullptr));
    EXPECT_EQ(ERROR_INVALID_DATA, key.SetMultiStringValue(L"zero", nullptr));
    DWORD type = 0;
    std::string bytes;
    EXPECT_FALSE(scratch.getRaw(L"zero", type, bytes));
}

TEST_F(RegKeyTest, StringQueriesCheckTypeAndTermination)
{
    scratch.setRaw(L"text", REG_SZ, L"hello", 12);
    scratch.setRaw(L"expand", REG_EXPAND_SZ, L"%PATH%", 14);
    scratch.setRaw(L"emptyWithNul", REG_SZ, L"", 2);
    scratch.setRaw(L"noBytes", REG_SZ, L"", 0);
    scratch.setRaw(L"unterminated", REG_SZ, L"abc", 6);
    scratch.setRaw(L"odd", REG_SZ, "a\0b", 3);
    scratch.setRaw(L"number", REG_DWORD, "\1\0\0\0", 4);

    struct Case {
        const wchar_t* name;
        DWORD capacity;
        LONG result;
        DWORD charsOut;
        const wchar_t* text; // expected buffer text on success
    };
    const Case cases[] = {
        {L"text", 32, ERROR_SUCCESS, 6, L"hello"},
        {L"text", 6, ERROR_SUCCESS, 6, L"hello"},
        {L"text", 5, ERROR_MORE_DATA, 0, nullptr},
        {L"expand", 32, ERROR_SUCCESS, 7, L"%PATH%"},
        {L"emptyWithNul", 32, ERROR_SUCCESS, 1, L""},
        {L"noBytes", 32, ERROR_SUCCESS, 0, L""},
        {L"noBytes", 1, ERROR_SUCCESS, 0, L""},
        {L"odd", 32, ERROR_INVALID_DATA, 0, nullptr},
        {L"number", 32, ERROR_INVALID_DATA, 0, nullptr},
        {L"missing", 32, ERROR_FILE_NOT_FOUND, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.name) + " capacity " + std::to_string(c.capacity));
        std::vector<wchar_t> buffer(c.capacity + 1, L'#');
        DWORD chars = c.capacity;
        EXPECT_EQ(c.result, key.QueryStringValue(c.name, buffer.data(), &chars));
        EXPECT_EQ(c.charsOut, chars);
        if (c.text) {
            EXPECT_EQ(std::wstring(c.text), std::wstring(buffer.data()));
        }
        EXPECT_EQ(L'#', buffer[c.capacity]);
    }

    // Wine terminates a stored text that lacks its NUL itself (6 stored bytes
    // read as 8); Windows hands it over as stored, which must be refused.
    // Either way no unterminated text comes back as a success. (The check
    // itself is shown over the obfuscated store, which the system cannot mend.)
    {
        wchar_t buffer[32];
        DWORD chars = 32;
        const LONG error = key.QueryStringValue(L"unterminated", buffer, &chars);
        if (error == ERROR_SUCCESS) {
            EXPECT_EQ(4u, chars);
            EXPECT_EQ(std::wstring(L"abc"), std::wstring(buffer));
        } else {
            EXPECT_EQ(ERROR_INVALID_DATA, error);
        }
    }

    // Sizing without a buffer reports the characters a buffer needs.
    DWORD chars = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"text", nullptr, &chars));
    EXPECT_EQ(6u, chars);
    chars = 0;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue(L"number", nullptr, &chars));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryStringValue(L"text", nullptr, nullptr));

    std::wstring value = L"old";
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"text", value));
    EXPECT_EQ(L"hello", value);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"noBytes", value));
    EXPECT_EQ(L"", value);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryStringValue(L"missing", value));
}

// A value of no bytes read into a buffer of no characters: the terminator
// of the empty string would land past the buffer.
TEST_F(RegKeyTest, EmptyStringIntoABufferOfNoCharactersWritesNothing)
{
    scratch.setRaw(L"noBytes", REG_SZ, L"", 0);
    wchar_t buffer[2] = {L'#', L'#'};
    DWORD chars = 0;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryStringValue(L"noBytes", buffer, &chars));
    EXPECT_EQ(1u, chars);
    EXPECT_EQ(L'#', buffer[0]);
}

TEST_F(RegKeyTest, MultiStringQueriesCheckTheDoubleTerminator)
{
    scratch.setRaw(L"list", REG_MULTI_SZ, L"a\0bc\0", 12);
    scratch.setRaw(L"onlyNul", REG_MULTI_SZ, L"", 2);
    scratch.setRaw(L"singleNul", REG_MULTI_SZ, L"ab", 6);
    scratch.setRaw(L"noEnd", REG_MULTI_SZ, L"ab", 4);
    scratch.setRaw(L"odd", REG_MULTI_SZ, "a\0\0\0\0", 5);
    scratch.setRaw(L"oneByte", REG_MULTI_SZ, "", 1);
    scratch.setRaw(L"empty", REG_MULTI_SZ, "", 0);
    scratch.setRaw(L"text", REG_SZ, L"a", 4);

    struct Case {
        const wchar_t* name;
        DWORD capacity;
        LONG result;
        DWORD charsOut;
    };
    const Case cases[] = {
        {L"list", 32, ERROR_SUCCESS, 6},
        {L"list", 6, ERROR_SUCCESS, 6},
        {L"list", 5, ERROR_MORE_DATA, 0},
        {L"onlyNul", 32, ERROR_SUCCESS, 1},
        {L"singleNul", 32, ERROR_INVALID_DATA, 0},
        {L"noEnd", 32, ERROR_INVALID_DATA, 0},
        {L"odd", 32, ERROR_INVALID_DATA, 0},
        {L"oneByte", 32, ERROR_INVALID_DATA, 0},
        {L"empty", 32, ERROR_INVALID_DATA, 0},
        {L"text", 32, ERROR_INVALID_DATA, 0},
        {L"missing", 32, ERROR_FILE_NOT_FOUND, 0},
        {L"list", 1, ERROR_INSUFFICIENT_BUFFER, 1},
        {L"list", 0, ERROR_INSUFFICIENT_BUFFER, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.name) + " capacity " + std::to_string(c.capacity));
        std::vector<wchar_t> buffer(c.capacity + 1, L'#');
        DWORD chars = c.capacity;
        EXPECT_EQ(c.result, key.QueryMultiStringValue(c.name, buffer.data(), &chars));
        EXPECT_EQ(c.charsOut, chars);
        EXPECT_EQ(L'#', buffer[c.capacity]);
        if (c.result == ERROR_INSUFFICIENT_BUFFER) {
            EXPECT_EQ(L'#', buffer[0]) << "read although the buffer was refused";
        }
    }
    std::vector<wchar_t> buffer(6);
    DWORD chars = 6;
    ASSERT_EQ(ERROR_SUCCESS, key.QueryMultiStringValue(L"list", buffer.data(), &chars));
    EXPECT_EQ(std::wstring(L"a\0bc\0", 6), std::wstring(buffer.data(), 6));

    chars = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryMultiStringValue(L"list", nullptr, &chars));
    EXPECT_EQ(6u, chars);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryMultiStringValue(L"list", buffer.data(), nullptr));
}

TEST_F(RegKeyTest, GuidValuesRoundTripAndTextWithoutBraceIsRefused)
{
    const GUID guid = {0x3B9F1C52, 0x6A0D, 0x4f7e, {0x8C, 0x21, 0x5E, 0x7A, 0x90, 0xD4, 0xB6, 0xF3}};
    ASSERT_EQ(ERROR_SUCCESS, key.SetGUIDValue(L"g", guid));
    DWORD type = 0;
    std::string bytes;
    ASSERT_TRUE(scratch.getRaw(L"g", type, bytes));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(bytesOf(L"{3B9F1C52-6A0D-4F7E-8C21-5E7A90D4B6F3}", true), bytes);
    GUID read{};
    EXPECT_EQ(ERROR_SUCCESS, key.QueryGUIDValue(L"g", read));
    EXPECT_TRUE(IsEqualGUID(guid, read));

    const GUID zero{};
    for (const wchar_t* text : {L"3B9F1C52-6A0D-4f7e-8C21-5E7A90D4B6F3", L"{not a guid}", L""}) {
        SCOPED_TRACE(TestSupport::narrow(text));
        ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"bad", text));
        read = guid;
        EXPECT_EQ(ERROR_INVALID_DATA, key.QueryGUIDValue(L"bad", read));
        EXPECT_TRUE(IsEqualGUID(zero, read));
    }
    read = guid;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryGUIDValue(L"missing", read));
    EXPECT_TRUE(IsEqualGUID(zero, read));
}

TEST_F(RegKeyTest, EnumerationDeletionAndNotification)
{
    createKey(HKEY_CURRENT_USER, sub(L"one"));
    createKey(HKEY_CURRENT_USER, sub(L"two"));
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD chars = 256;
        FILETIME written{};
        const LONG error = key.EnumKey(index, name, &chars, index == 0 ? &written : nullptr);
        if (error == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(ERROR_SUCCESS, error);
        if (index == 0) {
            EXPECT_NE(0u, written.dwLowDateTime | written.dwHighDateTime);
        }
        names.emplace_back(name, chars);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"one", L"two"}), names);

    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_EQ(ERROR_SUCCESS, key.NotifyChangeKeyValue(FALSE, REG_NOTIFY_CHANGE_LAST_SET, event, TRUE));
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"v", 1));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 5000));
    CloseHandle(event);
    EXPECT_EQ(ERROR_SUCCESS, key.Flush());

    EXPECT_EQ(ERROR_SUCCESS, key.DeleteValue(L"v"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.DeleteValue(L"v"));
    EXPECT_EQ(ERROR_SUCCESS, key.DeleteSubKey(L"one"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"one")));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.DeleteSubKey(L"one"));
}

TEST_F(RegKeyTest, KeySecurityReadsAndWrites)
{
    DWORD size = 0;
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, key.GetKeySecurity(DACL_SECURITY_INFORMATION, nullptr, &size));
    ASSERT_GT(size, 0u);
    std::vector<BYTE> descriptor(size);
    ASSERT_EQ(ERROR_SUCCESS, key.GetKeySecurity(DACL_SECURITY_INFORMATION, descriptor.data(), &size));
    EXPECT_EQ(ERROR_SUCCESS, key.SetKeySecurity(DACL_SECURITY_INFORMATION, descriptor.data()));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.GetKeySecurity(DACL_SECURITY_INFORMATION, descriptor.data(), nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetKeySecurity(DACL_SECURITY_INFORMATION, nullptr));
}

TEST(RegKey, AClosedKeyOrAMissingNameIsRefused)
{
    CRegKey key;
    DWORD dword = 0;
    ULONGLONG qword = 0;
    wchar_t text[8] = {};
    DWORD chars = 8;
    DWORD size = 8;
    FILETIME time{};
    const LONG results[] = {
        key.QueryBinaryValue(L"v", text, &size),
        key.QueryDWORDValue(L"v", dword),
        key.QueryQWORDValue(L"v", qword),
        key.QueryStringValue(L"v", text, &chars),
        key.GetKeySecurity(DACL_SECURITY_INFORMATION, nullptr, &size),
        key.SetKeySecurity(DACL_SECURITY_INFORMATION, text),
        key.Flush(),
        key.EnumKey(0, text, &chars, &time),
        key.NotifyChangeKeyValue(FALSE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE),
        key.DeleteSubKey(L"v"),
        key.RecurseDeleteKey(L"v"),
        key.DeleteValue(L"v"),
    };
    for (size_t k = 0; k < sizeof(results) / sizeof(results[0]); ++k)
        EXPECT_EQ(ERROR_INVALID_PARAMETER, results[k]) << "operation " << k;
    EXPECT_EQ(nullptr, key.GetHandle());
    EXPECT_EQ(ERROR_SUCCESS, key.Close());

    // The raw operations go to the system unchanged, which refuses the null handle.
    size = 8;
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.QueryValue(L"v", nullptr, text, &size));
    EXPECT_EQ(ERROR_INVALID_HANDLE, key.SetDWORDValue(L"v", 1));

    ScratchRegistryKey scratch;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(scratch.root(), scratch.path().c_str()));
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(scratch.handle(), L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &child, nullptr));
    RegCloseKey(child);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.DeleteSubKey(nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.DeleteValue(nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.RecurseDeleteKey(nullptr));
    EXPECT_TRUE(keyExists(scratch.root(), scratch.path() + L"\\child"));
}

TEST_F(RegKeyTest, RecurseDeleteRemovesNestedChildrenDeepestFirst)
{
    for (const wchar_t* path : {L"tree\\a\\a1\\a11", L"tree\\a\\a2", L"tree\\b", L"tree\\c\\c1"})
        createKey(HKEY_CURRENT_USER, sub(path));
    EXPECT_EQ(ERROR_SUCCESS, key.RecurseDeleteKey(L"tree"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"tree")));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.RecurseDeleteKey(L"tree"));
}

TEST_F(RegKeyTest, RecurseDeleteStopsAtTheFirstChildItCannotDelete)
{
    for (const wchar_t* path : {L"tree\\a\\a1", L"tree\\b\\b1", L"tree\\c"})
        createKey(HKEY_CURRENT_USER, sub(path));
    HKEY locked = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, sub(L"tree\\b").c_str(), 0, KEY_ALL_ACCESS, &locked));
    ASSERT_TRUE(TestSupport::denyAllAccess(locked));

    EXPECT_EQ(ERROR_ACCESS_DENIED, key.RecurseDeleteKey(L"tree"));
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, sub(L"tree\\a")));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, sub(L"tree\\c")));
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, sub(L"tree")));

    ASSERT_TRUE(TestSupport::allowAllAccess(locked));
    RegCloseKey(locked);
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, sub(L"tree\\b\\b1")));
    EXPECT_EQ(ERROR_SUCCESS, key.RecurseDeleteKey(L"tree"));
}

namespace {

// HKLM\Software\SentrelTests\<unique> in both registry views, removed in both.
class BothViewsKey {
public:
    BothViewsKey() : m_path(L"Software\\SentrelTests\\" + TestSupport::uniqueName(L"view")) {}
    ~BothViewsKey()
    {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, KEY_ALL_ACCESS | view, &key) == ERROR_SUCCESS) {
                SHDeleteKeyW(key, L"");
                RegCloseKey(key);
                RegDeleteKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), view, 0);
            }
        }
    }
    const std::wstring& path() const { return m_path; }

private:
    std::wstring m_path;
};

} // namespace

TEST(RegKeyViews, AKeyOpenedInTheThirtyTwoBitViewDeletesItsSubkeysThere)
{
    BothViewsKey machine;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        createKey(HKEY_LOCAL_MACHINE, machine.path() + L"\\child", view);
        createKey(HKEY_LOCAL_MACHINE, machine.path() + L"\\tree\\leaf", view);
    }
    // The 32-bit view is a tree of its own.
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE,
                          L"Software\\Wow6432Node\\SentrelTests\\" + machine.path().substr(22) + L"\\child",
                          KEY_WOW64_64KEY));

    CRegKeyImpl key;
    DWORD disposition = 0;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, machine.path().c_str(), nullptr, 0,
                                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &disposition));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(REGSAM(KEY_WOW64_32KEY), key.GetViewBits());

    EXPECT_EQ(ERROR_SUCCESS, key.DeleteSubKey(L"child"));
    EXPECT_EQ(ERROR_SUCCESS, key.RecurseDeleteKey(L"tree"));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, machine.path() + L"\\child", KEY_WOW64_32KEY));
    EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, machine.path() + L"\\tree", KEY_WOW64_32KEY));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, machine.path() + L"\\child", KEY_WOW64_64KEY));
    EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, machine.path() + L"\\tree\\leaf", KEY_WOW64_64KEY));

    EXPECT_EQ(ERROR_SUCCESS, key.Close());
    EXPECT_EQ(REGSAM(0), key.GetViewBits());
}

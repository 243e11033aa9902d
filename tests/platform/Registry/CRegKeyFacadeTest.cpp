#include "Registry/CRegKey.h"

#include "ScratchRegistryKey.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using Halvex::CRegKey;
using Halvex::internal::CRegKeyImpl;
using ::testing::_;
using ::testing::Return;

namespace {

class MockImpl : public CRegKeyImpl {
public:
    MOCK_METHOD(LONG, QueryValue, (LPCWSTR, DWORD*, void*, DWORD*), (override));
    MOCK_METHOD(LONG, SetValue, (LPCWSTR, DWORD, const void*, DWORD), (override));
    MOCK_METHOD(LONG, QueryDWORDValue, (LPCWSTR, DWORD&), (override));
    MOCK_METHOD(LONG, QueryMultiStringValue, (LPCWSTR, LPWSTR, DWORD*), (override));
    MOCK_METHOD(LONG, Open, (HKEY, LPCWSTR, REGSAM), (override));
    MOCK_METHOD(LONG, Flush, (), (override));
    MOCK_METHOD(LONG, EnumKey, (DWORD, LPWSTR, DWORD*, FILETIME*), (override));
    MOCK_METHOD(LONG, NotifyChangeKeyValue, (BOOL, DWORD, HANDLE, BOOL), (override));
    MOCK_METHOD(LONG, DeleteSubKey, (LPCWSTR), (override));
    MOCK_METHOD(LONG, RecurseDeleteKey, (LPCWSTR), (override));
    MOCK_METHOD(LONG, DeleteValue, (LPCWSTR), (override));
    MOCK_METHOD(LONG, GrantEveryoneFullAccess, (bool), (override));
    MOCK_METHOD(LONG, Close, (), (override));
    MOCK_METHOD(HKEY, Detach, (), (override));
    MOCK_METHOD(void, Attach, (HKEY), (override));
};

} // namespace

TEST(RegKeyFacade, ForwardsEveryOperationToItsImplementation)
{
    auto impl = std::make_shared<::testing::StrictMock<MockImpl>>();
    {
        CRegKey key(impl);
        DWORD value = 0, chars = 4, size = 0;
        wchar_t buffer[4];
        const HKEY fake = reinterpret_cast<HKEY>(0x1234);
        EXPECT_CALL(*impl, QueryValue(_, _, _, _)).WillOnce(Return(101));
        EXPECT_CALL(*impl, SetValue(_, REG_BINARY, _, 3)).WillOnce(Return(102));
        EXPECT_CALL(*impl, QueryDWORDValue(_, _)).WillOnce(Return(103));
        EXPECT_CALL(*impl, QueryMultiStringValue(_, buffer, &chars)).WillOnce(Return(104));
        EXPECT_CALL(*impl, Open(HKEY_CURRENT_USER, _, KEY_READ)).WillOnce(Return(105));
        EXPECT_CALL(*impl, Flush()).WillOnce(Return(106));
        EXPECT_CALL(*impl, EnumKey(7, buffer, &chars, nullptr)).WillOnce(Return(107));
        EXPECT_CALL(*impl, NotifyChangeKeyValue(TRUE, 1, nullptr, FALSE)).WillOnce(Return(108));
        EXPECT_CALL(*impl, DeleteSubKey(_)).WillOnce(Return(109));
        EXPECT_CALL(*impl, RecurseDeleteKey(_)).WillOnce(Return(110));
        EXPECT_CALL(*impl, DeleteValue(_)).WillOnce(Return(111));
        EXPECT_CALL(*impl, GrantEveryoneFullAccess(true)).WillOnce(Return(112));
        EXPECT_CALL(*impl, Detach()).WillOnce(Return(fake));
        EXPECT_CALL(*impl, Attach(fake));

        EXPECT_EQ(101, key.QueryValue(L"v", nullptr, nullptr, &size));
        // A typed write goes through the implementation's raw write.
        EXPECT_EQ(102, key.SetBinaryValue(L"v", "abc", 3));
        EXPECT_EQ(103, key.QueryDWORDValue(L"v", value));
        EXPECT_EQ(104, key.QueryMultiStringValue(L"v", buffer, &chars));
        EXPECT_EQ(105, key.Open(HKEY_CURRENT_USER, L"x", KEY_READ));
        EXPECT_EQ(106, key.Flush());
        EXPECT_EQ(107, key.EnumKey(7, buffer, &chars));
        EXPECT_EQ(108, key.NotifyChangeKeyValue(TRUE, 1, nullptr, FALSE));
        EXPECT_EQ(109, key.DeleteSubKey(L"x"));
        EXPECT_EQ(110, key.RecurseDeleteKey(L"x"));
        EXPECT_EQ(111, key.DeleteValue(L"x"));
        EXPECT_EQ(112, key.GrantEveryoneFullAccess(true));
        EXPECT_EQ(fake, key.Detach());
        key.Attach(fake);

        // The facade's destructor closes the key.
        EXPECT_CALL(*impl, Close()).WillOnce(Return(0));
    }
}

TEST(RegKeyFacade, DestructionClosesTheKeyAndHonoursDeleteOnClose)
{
    TestSupport::ScratchRegistryKey scratch;
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(scratch.handle(), L"child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &child, nullptr));
    RegCloseKey(child);

    auto impl = std::make_shared<CRegKeyImpl>();
    {
        CRegKey key(impl);
        ASSERT_EQ(ERROR_SUCCESS, key.Open(scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
        impl->SetDeleteOnClose(true);
        EXPECT_EQ(impl->GetHandle(), key.GetHandle());
    }
    EXPECT_EQ(nullptr, impl->GetHandle());
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(scratch.handle(), L"child", 0, KEY_READ, &child));

    // An empty implementation pointer gives a working plain key.
    CRegKey plain(nullptr);
    EXPECT_EQ(ERROR_SUCCESS, plain.Open(scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
    EXPECT_EQ(ERROR_SUCCESS, plain.SetDWORDValue(L"v", 7));
    DWORD value = 0;
    EXPECT_EQ(ERROR_SUCCESS, plain.QueryDWORDValue(L"v", value));
    EXPECT_EQ(7u, value);
}

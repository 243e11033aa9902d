#pragma once
// A registry record of an application of the test's own below the machine's
// "SOFTWARE\Corvane.logging", removed with the object.
#include "Registry/CObfuscatedRegKey.h"

#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace EtwTestDoubles {

// {6B0F5B1E-1111-4C2A-9A3B-5D2E7F001122}
constexpr GUID kRecordProviderGuid = {0x6B0F5B1E, 0x1111, 0x4C2A, {0x9A, 0x3B, 0x5D, 0x2E, 0x7F, 0x00, 0x11, 0x22}};
// {6B0F5B1E-2222-4C2A-9A3B-5D2E7F003344}
constexpr GUID kRecordSessionGuid = {0x6B0F5B1E, 0x2222, 0x4C2A, {0x9A, 0x3B, 0x5D, 0x2E, 0x7F, 0x00, 0x33, 0x44}};

class AppRecord {
public:
    AppRecord() : m_app(TestSupport::uniqueName(L"App")), m_path(L"SOFTWARE\\Corvane.logging\\" + m_app)
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str());
    }
    ~AppRecord() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()); }

    // Every value the record needs; `skip` leaves one of them out.
    void writeComplete(const std::wstring& skip = L"")
    {
        setString(L"", L"Log Path", L"\\Own\\Logs", skip);
        setString(L"Controller", L"Controller Path", L"C:\\ctl", skip);
        setString(L"Controller", L"Owner Mutex Name", L"Global\\OwnMutex", skip);
        setString(L"Session", L"Session Name", L"OwnSession", skip);
        setGuid(L"Session", L"Session ID Guid", kRecordSessionGuid, skip);
        setGuid(L"Provider", L"Provider Guid", kRecordProviderGuid, skip);
    }
    // A plain 32-bit value below the record's provider key.
    void setProviderValue(const std::wstring& subkey, const wchar_t* name, DWORD value) const
    {
        HKEY key = nullptr;
        const std::wstring path = m_path + L"\\Provider" + (subkey.empty() ? L"" : L"\\" + subkey);
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
    }

    const std::wstring& app() const { return m_app; }
    const std::wstring& path() const { return m_path; }

private:
    bool open(const std::wstring& subkey, Halvex::CObfuscatedRegKey& key) const
    {
        const std::wstring path = subkey.empty() ? m_path : m_path + L"\\" + subkey;
        return key.Create(HKEY_LOCAL_MACHINE, path.c_str()) == ERROR_SUCCESS;
    }
    void setString(const std::wstring& subkey, const wchar_t* name, const wchar_t* value, const std::wstring& skip)
    {
        Halvex::CObfuscatedRegKey key;
        ASSERT_TRUE(open(subkey, key));
        if (skip != name) {
            ASSERT_EQ(key.SetStringValue(name, value), ERROR_SUCCESS);
        }
    }
    void setGuid(const std::wstring& subkey, const wchar_t* name, const GUID& value, const std::wstring& skip)
    {
        Halvex::CObfuscatedRegKey key;
        ASSERT_TRUE(open(subkey, key));
        if (skip != name) {
            ASSERT_EQ(key.SetGUIDValue(name, value), ERROR_SUCCESS);
        }
    }

    std::wstring m_app;
    std::wstring m_path;
};

} // namespace EtwTestDoubles

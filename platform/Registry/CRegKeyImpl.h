#pragma once
#include <windows.h>

#include <string>

namespace Halvex {
namespace internal {

// Owns one registry key handle and carries every operation of CRegKey.
// Operations return the Win32 code of the call they make (0 on success);
// the class adds argument checks, checks of the type and size of what was
// read, and the bookkeeping of the open handle. Never throws.
class CRegKeyImpl {
public:
    CRegKeyImpl() = default;
    virtual ~CRegKeyImpl();
    CRegKeyImpl(const CRegKeyImpl&) = delete;
    CRegKeyImpl& operator=(const CRegKeyImpl&) = delete;

    // Raw access: every typed operation reads through QueryValue and writes
    // through SetValue, so a derived class can change the stored form there.
    virtual LONG QueryValue(LPCWSTR valueName, DWORD* type, void* data, DWORD* byteSize);
    virtual LONG SetValue(LPCWSTR valueName, DWORD type, const void* data, DWORD byteSize);

    virtual LONG SetGUIDValue(LPCWSTR valueName, REFGUID guid);
    virtual LONG SetBinaryValue(LPCWSTR valueName, const void* data, DWORD byteSize);
    virtual LONG SetDWORDValue(LPCWSTR valueName, DWORD value);
    virtual LONG SetQWORDValue(LPCWSTR valueName, ULONGLONG value);
    virtual LONG SetStringValue(LPCWSTR valueName, LPCWSTR text, DWORD type = REG_SZ);
    // strings: each NUL-terminated, the list ended by an empty string.
    virtual LONG SetMultiStringValue(LPCWSTR valueName, LPCWSTR strings);

    virtual LONG QueryGUIDValue(LPCWSTR valueName, GUID& guid);
    virtual LONG QueryBinaryValue(LPCWSTR valueName, void* data, DWORD* byteSize);
    virtual LONG QueryDWORDValue(LPCWSTR valueName, DWORD& value);
    virtual LONG QueryQWORDValue(LPCWSTR valueName, ULONGLONG& value);
    virtual LONG QueryStringValue(LPCWSTR valueName, std::wstring& value);
    // chars: the buffer's size in characters; out: characters including the
    // terminating NUL (without a buffer: the size needed).
    virtual LONG QueryStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars);
    virtual LONG QueryMultiStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars);

    virtual LONG GetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, DWORD* byteSize);
    virtual LONG SetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);

    virtual LONG Create(HKEY parent, LPCWSTR subkey, LPWSTR keyClass = nullptr,
                        DWORD options = REG_OPTION_NON_VOLATILE, REGSAM access = KEY_READ | KEY_WRITE,
                        LPSECURITY_ATTRIBUTES security = nullptr, DWORD* disposition = nullptr);
    virtual LONG Open(HKEY parent, LPCWSTR subkey, REGSAM access = KEY_READ | KEY_WRITE);
    virtual LONG Close();
    virtual LONG Flush();
    virtual HKEY Detach();
    virtual void Attach(HKEY key);
    virtual LONG EnumKey(DWORD index, LPWSTR name, DWORD* chars, FILETIME* lastWrite = nullptr);
    virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous = TRUE);
    virtual LONG DeleteSubKey(LPCWSTR name);
    virtual LONG RecurseDeleteKey(LPCWSTR name);
    virtual LONG DeleteValue(LPCWSTR name);
    virtual LONG GrantEveryoneFullAccess(bool recurse);
    virtual void SetDeleteOnClose(bool deleteOnClose);
    virtual bool GetDeleteOnClose() const;

    HKEY GetHandle() const { return m_handle; }
    // The registry-view bits (KEY_WOW64_64KEY, KEY_WOW64_32KEY) the key was opened with.
    REGSAM GetViewBits() const { return m_viewBits; }

protected:
    static constexpr REGSAM kViewMask = KEY_WOW64_64KEY | KEY_WOW64_32KEY;

    HKEY m_handle = nullptr;
    REGSAM m_viewBits = 0;
    bool m_deleteOnClose = false;

private:
    LONG Adopt(HKEY key, REGSAM access);
};

} // namespace internal
} // namespace Halvex

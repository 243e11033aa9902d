#pragma once
#include "Registry/CRegKeyImpl.h"

#include <memory>
#include <string>

namespace Halvex {

// The registry access class: a facade over an implementation that owns the
// key handle, so that a derived key (CObfuscatedRegKey) can run the same
// typed operations over another stored form. Win32 codes, never throws.
class CRegKey {
public:
    CRegKey();
    // Adopts the implementation; an empty pointer yields a plain one.
    explicit CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl);
    virtual ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    virtual LONG QueryValue(LPCWSTR valueName, DWORD* type, void* data, DWORD* byteSize);
    virtual LONG SetValue(LPCWSTR valueName, DWORD type, const void* data, DWORD byteSize);
    virtual LONG SetGUIDValue(LPCWSTR valueName, REFGUID guid);
    virtual LONG SetBinaryValue(LPCWSTR valueName, const void* data, DWORD byteSize);
    virtual LONG SetDWORDValue(LPCWSTR valueName, DWORD value);
    virtual LONG SetQWORDValue(LPCWSTR valueName, ULONGLONG value);
    virtual LONG SetStringValue(LPCWSTR valueName, LPCWSTR text, DWORD type = REG_SZ);
    virtual LONG SetMultiStringValue(LPCWSTR valueName, LPCWSTR strings);
    virtual LONG QueryGUIDValue(LPCWSTR valueName, GUID& guid);
    virtual LONG QueryBinaryValue(LPCWSTR valueName, void* data, DWORD* byteSize);
    virtual LONG QueryDWORDValue(LPCWSTR valueName, DWORD& value);
    virtual LONG QueryQWORDValue(LPCWSTR valueName, ULONGLONG& value);
    virtual LONG QueryStringValue(LPCWSTR valueName, std::wstring& value);
    virtual LONG QueryStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars);
    virtual LONG QueryMultiStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars);
    virtual LONG GetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, DWORD* byteSize);
    virtual LONG SetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);
    virtual LONG Create(HKEY parent, LPCWSTR subkey, LPWSTR keyClass = nullptr,
                        DWORD options = REG_OPTION_NON_VOLATILE, REGSAM access = KEY_READ | KEY_WRITE,
                        LPSECURITY_ATTRIBUTES security = nullptr, DWORD* disposition = nullptr);
    virtual LONG Open(HKEY parent, LPCWSTR subkey, REGSAM access = KEY_READ | KEY_WRITE);
    virtual LONG Flush();
    virtual LONG EnumKey(DWORD index, LPWSTR name, DWORD* chars, FILETIME* lastWrite = nullptr);
    virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous = TRUE);
    virtual LONG DeleteSubKey(LPCWSTR name);
    virtual LONG RecurseDeleteKey(LPCWSTR name);
    virtual LONG DeleteValue(LPCWSTR name);
    virtual LONG GrantEveryoneFullAccess(bool recurse);

    LONG Close();
    // Adopts the handle; a handle already held is not closed.
    void Attach(HKEY key);
    // Hands the handle over, still open, and forgets it.
    HKEY Detach();
    HKEY GetHandle() const;

protected:
    internal::CRegKeyImpl& Impl() const { return *m_impl; }

private:
    std::shared_ptr<internal::CRegKeyImpl> m_impl;
};

} // namespace Halvex

#include "Registry/CRegKey.h"

#include <utility>

namespace Halvex {

CRegKey::CRegKey() : m_impl(std::make_shared<internal::CRegKeyImpl>()) {}

CRegKey::CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl)
    : m_impl(impl ? std::move(impl) : std::make_shared<internal::CRegKeyImpl>())
{
}

CRegKey::~CRegKey()
{
    m_impl->Close();
}

LONG CRegKey::QueryValue(LPCWSTR valueName, DWORD* type, void* data, DWORD* byteSize)
{
    return m_impl->QueryValue(valueName, type, data, byteSize);
}

LONG CRegKey::SetValue(LPCWSTR valueName, DWORD type, const void* data, DWORD byteSize)
{
    return m_impl->SetValue(valueName, type, data, byteSize);
}

LONG CRegKey::SetGUIDValue(LPCWSTR valueName, REFGUID guid)
{
    return m_impl->SetGUIDValue(valueName, guid);
}

LONG CRegKey::SetBinaryValue(LPCWSTR valueName, const void* data, DWORD byteSize)
{
    return m_impl->SetBinaryValue(valueName, data, byteSize);
}

LONG CRegKey::SetDWORDValue(LPCWSTR valueName, DWORD value)
{
    return m_impl->SetDWORDValue(valueName, value);
}

LONG CRegKey::SetQWORDValue(LPCWSTR valueName, ULONGLONG value)
{
    return m_impl->SetQWORDValue(valueName, value);
}

LONG CRegKey::SetStringValue(LPCWSTR valueName, LPCWSTR text, DWORD type)
{
    return m_impl->SetStringValue(valueName, text, type);
}

LONG CRegKey::SetMultiStringValue(LPCWSTR valueName, LPCWSTR strings)
{
    return m_impl->SetMultiStringValue(valueName, strings);
}

LONG CRegKey::QueryGUIDValue(LPCWSTR valueName, GUID& guid)
{
    return m_impl->QueryGUIDValue(valueName, guid);
}

LONG CRegKey::QueryBinaryValue(LPCWSTR valueName, void* data, DWORD* byteSize)
{
    return m_impl->QueryBinaryValue(valueName, data, byteSize);
}

LONG CRegKey::QueryDWORDValue(LPCWSTR valueName, DWORD& value)
{
    return m_impl->QueryDWORDValue(valueName, value);
}

LONG CRegKey::QueryQWORDValue(LPCWSTR valueName, ULONGLONG& value)
{
    return m_impl->QueryQWORDValue(valueName, value);
}

LONG CRegKey::QueryStringValue(LPCWSTR valueName, std::wstring& value)
{
    return m_impl->QueryStringValue(valueName, value);
}

LONG CRegKey::QueryStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars)
{
    return m_impl->QueryStringValue(valueName, buffer, chars);
}

LONG CRegKey::QueryMultiStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars)
{
    return m_impl->QueryMultiStringValue(valueName, buffer, chars);
}

LONG CRegKey::GetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, DWORD* byteSize)
{
    return m_impl->GetKeySecurity(info, descriptor, byteSize);
}

LONG CRegKey::SetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor)
{
    return m_impl->SetKeySecurity(info, descriptor);
}

LONG CRegKey::Create(HKEY parent, LPCWSTR subkey, LPWSTR keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, DWORD* disposition)
{
    return m_impl->Create(parent, subkey, keyClass, options, access, security, disposition);
}

LONG CRegKey::Open(HKEY parent, LPCWSTR subkey, REGSAM access)
{
    return m_impl->Open(parent, subkey, access);
}

LONG CRegKey::Flush()
{
    return m_impl->Flush();
}

LONG CRegKey::EnumKey(DWORD index, LPWSTR name, DWORD* chars, FILETIME* lastWrite)
{
    return m_impl->EnumKey(index, name, chars, lastWrite);
}

LONG CRegKey::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    return m_impl->NotifyChangeKeyValue(watchSubtree, filter, event, asynchronous);
}

LONG CRegKey::DeleteSubKey(LPCWSTR name)
{
    return m_impl->DeleteSubKey(name);
}

LONG CRegKey::RecurseDeleteKey(LPCWSTR name)
{
    return m_impl->RecurseDeleteKey(name);
}

LONG CRegKey::DeleteValue(LPCWSTR name)
{
    return m_impl->DeleteValue(name);
}

LONG CRegKey::GrantEveryoneFullAccess(bool recurse)
{
    return m_impl->GrantEveryoneFullAccess(recurse);
}

LONG CRegKey::Close()
{
    return m_impl->Close();
}

void CRegKey::Attach(HKEY key)
{
    m_impl->Attach(key);
}

HKEY CRegKey::Detach()
{
    return m_impl->Detach();
}

HKEY CRegKey::GetHandle() const
{
    return m_impl->GetHandle();
}

} // namespace Halvex

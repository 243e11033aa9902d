#include "Registry/CRegKeyImpl.h"

#include <objbase.h>
#include <shlwapi.h>

#include <cwchar>
#include <new>
#include <vector>

namespace Halvex {
namespace internal {

namespace {

// A character count as a byte count, without wrapping for absurd counts.
DWORD charsToBytes(DWORD chars)
{
    return chars > MAXDWORD / 2 ? (MAXDWORD & ~DWORD(1)) : chars * 2;
}

} // namespace

CRegKeyImpl::~CRegKeyImpl()
{
    CRegKeyImpl::Close();
}

LONG CRegKeyImpl::QueryValue(LPCWSTR valueName, DWORD* type, void* data, DWORD* byteSize)
{
    return RegQueryValueExW(m_handle, valueName, nullptr, type, static_cast<BYTE*>(data), byteSize);
}

LONG CRegKeyImpl::SetValue(LPCWSTR valueName, DWORD type, const void* data, DWORD byteSize)
{
    if (!data || byteSize == 0)
        return ERROR_INVALID_PARAMETER;
    return RegSetValueExW(m_handle, valueName, 0, type, static_cast<const BYTE*>(data), byteSize);
}

LONG CRegKeyImpl::SetGUIDValue(LPCWSTR valueName, REFGUID guid)
{
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return SetStringValue(valueName, text, REG_SZ);
}

LONG CRegKeyImpl::SetBinaryValue(LPCWSTR valueName, const void* data, DWORD byteSize)
{
    return SetValue(valueName, REG_BINARY, data, byteSize);
}

LONG CRegKeyImpl::SetDWORDValue(LPCWSTR valueName, DWORD value)
{
    return SetValue(valueName, REG_DWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetQWORDValue(LPCWSTR valueName, ULONGLONG value)
{
    return SetValue(valueName, REG_QWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetStringValue(LPCWSTR valueName, LPCWSTR text, DWORD type)
{
    if (!text)
        return ERROR_INVALID_DATA;
    return SetValue(valueName, type, text, DWORD((std::wcslen(text) + 1) * sizeof(wchar_t)));
}

LONG CRegKeyImpl::SetMultiStringValue(LPCWSTR valueName, LPCWSTR strings)
{
    if (!strings)
        return ERROR_INVALID_DATA;
    size_t chars = 0;
    for (;;) {
        const size_t length = std::wcslen(strings + chars);
        chars += length + 1;
        if (length == 0)
            break;
    }
    return SetValue(valueName, REG_MULTI_SZ, strings, DWORD(chars * sizeof(wchar_t)));
}

LONG CRegKeyImpl::QueryGUIDValue(LPCWSTR valueName, GUID& guid)
{
    guid = GUID{};
    wchar_t text[64] = {};
    DWORD chars = 64;
    const LONG error = QueryStringValue(valueName, text, &chars);
    if (error != ERROR_SUCCESS)
        return error;
    if (text[0] != L'{' || FAILED(CLSIDFromString(text, &guid))) {
        guid = GUID{};
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryBinaryValue(LPCWSTR valueName, void* data, DWORD* byteSize)
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    DWORD type = 0;
    const LONG error = QueryValue(valueName, &type, data, byteSize);
    if (error != ERROR_SUCCESS)
        return error;
    return type == REG_BINARY ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

// The system reports success for a stored value shorter than the variable
// (a 2-byte REG_DWORD read into 4 bytes gives size 2): that half a number is
// invalid data, not a value.
LONG CRegKeyImpl::QueryDWORDValue(LPCWSTR valueName, DWORD& value)
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    DWORD type = 0;
    DWORD size = sizeof(value);
    const LONG error = QueryValue(valueName, &type, &value, &size);
    if (error != ERROR_SUCCESS)
        return error;
    return type == REG_DWORD && size == sizeof(value) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG CRegKeyImpl::QueryQWORDValue(LPCWSTR valueName, ULONGLONG& value)
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    DWORD type = 0;
    DWORD size = sizeof(value);
    const LONG error = QueryValue(valueName, &type, &value, &size);
    if (error != ERROR_SUCCESS)
        return error;
    return type == REG_QWORD && size == sizeof(value) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

LONG CRegKeyImpl::QueryStringValue(LPCWSTR valueName, std::wstring& value)
{
    DWORD chars = 0;
    LONG error = QueryStringValue(valueName, nullptr, &chars);
    if (error != ERROR_SUCCESS)
        return error;
    // A value of no bytes at all still needs room for the terminator.
    if (chars == 0)
        chars = 1;
    std::vector<wchar_t> buffer;
    try {
        buffer.resize(chars);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    error = QueryStringValue(valueName, buffer.data(), &chars);
    if (error != ERROR_SUCCESS)
        return error;
    value.assign(buffer.data());
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars)
{
    if (!m_handle || !chars)
        return ERROR_INVALID_PARAMETER;
    const DWORD capacity = *chars;
    DWORD byteSize = charsToBytes(capacity);
    *chars = 0;
    DWORD type = 0;
    const LONG error = QueryValue(valueName, &type, buffer, &byteSize);
    if (error != ERROR_SUCCESS)
        return error;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (!buffer) {
        // Rounded up, so that a buffer of that size reads the whole value
        // (and an odd size is then refused as invalid, not as too small).
        *chars = (byteSize + 1) / 2;
        return ERROR_SUCCESS;
    }
    if (byteSize == 0) {
        // The terminator of an empty string needs a character of room.
        if (capacity == 0) {
            *chars = 1;
            return ERROR_MORE_DATA;
        }
        buffer[0] = L'\0';
        return ERROR_SUCCESS;
    }
    if (byteSize % 2 != 0 || buffer[byteSize / 2 - 1] != L'\0')
        return ERROR_INVALID_DATA;
    *chars = byteSize / 2;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryMultiStringValue(LPCWSTR valueName, LPWSTR buffer, DWORD* chars)
{
    if (!chars)
        return ERROR_INVALID_PARAMETER;
    if (buffer && *chars < 2)
        return ERROR_INSUFFICIENT_BUFFER;
    DWORD byteSize = charsToBytes(*chars);
    *chars = 0;
    DWORD type = 0;
    const LONG error = QueryValue(valueName, &type, buffer, &byteSize);
    if (error != ERROR_SUCCESS)
        return error;
    if (type != REG_MULTI_SZ)
        return ERROR_INVALID_DATA;
    if (!buffer) {
        *chars = (byteSize + 1) / 2;
        return ERROR_SUCCESS;
    }
    if (byteSize % 2 != 0 || byteSize <= 1)
        return ERROR_INVALID_DATA;
    const DWORD last = byteSize / 2 - 1;
    if (buffer[last] != L'\0' || (byteSize >= 4 && buffer[last - 1] != L'\0'))
        return ERROR_INVALID_DATA;
    *chars = byteSize / 2;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::GetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, DWORD* byteSize)
{
    if (!m_handle || !byteSize)
        return ERROR_INVALID_PARAMETER;
    return RegGetKeySecurity(m_handle, info, descriptor, byteSize);
}

LONG CRegKeyImpl::SetKeySecurity(SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor)
{
    if (!m_handle || !descriptor)
        return ERROR_INVALID_PARAMETER;
    return RegSetKeySecurity(m_handle, info, descriptor);
}

LONG CRegKeyImpl::Adopt(HKEY key, REGSAM access)
{
    const LONG closed = Close();
    m_handle = key;
    m_viewBits = access & kViewMask;
    m_deleteOnClose = false;
    return closed;
}

LONG CRegKeyImpl::Create(HKEY parent, LPCWSTR subkey, LPWSTR keyClass, DWORD options, REGSAM access,
                         LPSECURITY_ATTRIBUTES security, DWORD* disposition)
{
    HKEY key = nullptr;
    DWORD created = 0;
    const LONG error =
        RegCreateKeyExW(parent, subkey, 0, keyClass, options, access, security, &key, &created);
    if (disposition)
        *disposition = error == ERROR_SUCCESS ? created : 0;
    if (error != ERROR_SUCCESS)
        return error;
    return Adopt(key, access);
}

LONG CRegKeyImpl::Open(HKEY parent, LPCWSTR subkey, REGSAM access)
{
    HKEY key = nullptr;
    const LONG error = RegOpenKeyExW(parent, subkey, 0, access, &key);
    if (error != ERROR_SUCCESS)
        return error;
    return Adopt(key, access);
}

LONG CRegKeyImpl::Close()
{
    if (!m_handle) {
        m_viewBits = 0;
        return ERROR_SUCCESS;
    }
    if (m_deleteOnClose) {
        SHDeleteKeyW(m_handle, L"");
        m_deleteOnClose = false;
    }
    const LONG error = RegCloseKey(m_handle);
    m_handle = nullptr;
    m_viewBits = 0;
    return error;
}

LONG CRegKeyImpl::Flush()
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    return RegFlushKey(m_handle);
}

HKEY CRegKeyImpl::Detach()
{
    HKEY key = m_handle;
    m_handle = nullptr;
    m_viewBits = 0;
    m_deleteOnClose = false;
    return key;
}

void CRegKeyImpl::Attach(HKEY key)
{
    m_handle = key;
    m_viewBits = 0;
    m_deleteOnClose = false;
}

LONG CRegKeyImpl::EnumKey(DWORD index, LPWSTR name, DWORD* chars, FILETIME* lastWrite)
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    FILETIME ignored{};
    return RegEnumKeyExW(m_handle, index, name, chars, nullptr, nullptr, nullptr, lastWrite ? lastWrite : &ignored);
}

LONG CRegKeyImpl::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    return RegNotifyChangeKeyValue(m_handle, watchSubtree, filter, event, asynchronous);
}

LONG CRegKeyImpl::DeleteSubKey(LPCWSTR name)
{
    if (!m_handle || !name)
        return ERROR_INVALID_PARAMETER;
    // The view bits make a key opened in one registry view delete its
    // subkey in the same view.
    return RegDeleteKeyExW(m_handle, name, m_viewBits, 0);
}

LONG CRegKeyImpl::RecurseDeleteKey(LPCWSTR name)
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    CRegKeyImpl key;
    LONG error = key.Open(m_handle, name, m_viewBits | KEY_READ | KEY_WRITE);
    if (error != ERROR_SUCCESS)
        return error;
    for (;;) {
        wchar_t child[256];
        DWORD chars = 256;
        if (key.EnumKey(0, child, &chars) != ERROR_SUCCESS)
            break;
        error = key.RecurseDeleteKey(child);
        if (error != ERROR_SUCCESS)
            return error;
    }
    key.Close();
    return DeleteSubKey(name);
}

LONG CRegKeyImpl::DeleteValue(LPCWSTR name)
{
    if (!m_handle || !name)
        return ERROR_INVALID_PARAMETER;
    return RegDeleteValueW(m_handle, name);
}

void CRegKeyImpl::SetDeleteOnClose(bool deleteOnClose)
{
    m_deleteOnClose = deleteOnClose;
}

bool CRegKeyImpl::GetDeleteOnClose() const
{
    return m_deleteOnClose;
}

} // namespace internal
} // namespace Halvex

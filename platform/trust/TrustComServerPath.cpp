#include "trust/TrustComServerPath.h"

#include "trust/TrustHandles.h"
#include "trust/TrustLibraryPath.h"

#include <objbase.h>

#include <vector>

namespace Halvex {
namespace trust {

namespace {

// A registry text of any length, without what follows its first NUL.
bool readDefaultText(HKEY key, DWORD& type, std::wstring& text)
{
    DWORD size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    if (RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &got) !=
        ERROR_SUCCESS)
        return false;
    text.assign(buffer.data());
    return true;
}

std::wstring expanded(const std::wstring& text)
{
    DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0)
        return {};
    std::vector<wchar_t> buffer(needed);
    DWORD n = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), needed);
    if (n == 0 || n > needed)
        return {};
    return std::wstring(buffer.data());
}

} // namespace

ComServerPath TrustFindComServerPath(REFCLSID classId, std::wstring& fullPath)
{
    fullPath.clear();
    wchar_t id[64] = {};
    if (StringFromGUID2(classId, id, 64) == 0)
        return ComServerPath::Unresolved;
    const std::wstring subkey = std::wstring(L"CLSID\\") + id + L"\\InprocServer32";
    HKEY raw = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
        return ComServerPath::None;
    RegKey key(raw);
    DWORD type = 0;
    std::wstring text;
    if (!readDefaultText(key.get(), type, text))
        return ComServerPath::Unresolved;
    if (type == REG_EXPAND_SZ)
        text = expanded(text);
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"')
        text = text.substr(1, text.size() - 2);
    if (text.empty() || !TrustResolveLibraryPath(text.c_str(), 0, fullPath))
        return ComServerPath::Unresolved;
    return ComServerPath::Found;
}

bool TrustResolveTreatAs(REFCLSID classId, CLSID& emulating)
{
    const int kMaxSteps = 16;
    CLSID seen[kMaxSteps + 1];
    emulating = classId;
    seen[0] = classId;
    for (int step = 1; step <= kMaxSteps + 1; ++step) {
        wchar_t id[64] = {};
        if (StringFromGUID2(emulating, id, 64) == 0)
            return false;
        HKEY raw = nullptr;
        const std::wstring subkey = std::wstring(L"CLSID\\") + id + L"\\TreatAs";
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, subkey.c_str(), 0, KEY_QUERY_VALUE, &raw) != ERROR_SUCCESS)
            return true;
        RegKey key(raw);
        DWORD type = 0;
        std::wstring text;
        CLSID next{};
        if (!readDefaultText(key.get(), type, text) || FAILED(CLSIDFromString(text.c_str(), &next)))
            return false;
        if (step > kMaxSteps)
            return false;
        for (int i = 0; i < step; ++i)
            if (IsEqualCLSID(seen[i], next))
                return false;
        seen[step] = next;
        emulating = next;
    }
    return false;
}

} // namespace trust
} // namespace Halvex

#include "PendingDeletions.h"

#include <windows.h>

#include <algorithm>
#include <cwctype>

namespace PendingDeletions {

namespace {

const wchar_t kKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kValue[] = L"PendingFileRenameOperations";

std::vector<std::wstring> readPairs()
{
    std::vector<std::wstring> strings;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return strings;
    DWORD size = 0;
    DWORD type = 0;
    if (RegQueryValueExW(key, kValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && size > 0) {
        std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
        if (RegQueryValueExW(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) ==
            ERROR_SUCCESS) {
            data.resize(size / sizeof(wchar_t));
            // Pairs of source and target; a deletion has an empty target,
            // so empty strings are entries here, not the list's end.
            size_t start = 0;
            while (start < data.size()) {
                const size_t end = data.find(L'\0', start);
                const size_t stop = end == std::wstring::npos ? data.size() : end;
                strings.push_back(data.substr(start, stop - start));
                start = stop + 1;
            }
            // The list ends with an extra terminator.
            while (strings.size() % 2 != 0 && !strings.empty() && strings.back().empty())
                strings.pop_back();
        }
    }
    RegCloseKey(key);
    return strings;
}

std::wstring lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

std::wstring withoutPrefix(const std::wstring& path)
{
    return path.compare(0, 4, L"\\??\\") == 0 ? path.substr(4) : path;
}

} // namespace

std::vector<std::wstring> list()
{
    const std::vector<std::wstring> strings = readPairs();
    std::vector<std::wstring> deleted;
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        if (strings[i + 1].empty())
            deleted.push_back(withoutPrefix(strings[i]));
    return deleted;
}

void forget(const std::wstring& folder)
{
    const std::vector<std::wstring> strings = readPairs();
    const std::wstring below = lower(folder);
    std::wstring kept;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (lower(withoutPrefix(strings[i])).compare(0, below.size(), below) == 0)
            continue;
        kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return;
    if (kept.empty()) {
        RegDeleteValueW(key, kValue);
    } else {
        kept += L'\0';
        RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                       static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

} // namespace PendingDeletions

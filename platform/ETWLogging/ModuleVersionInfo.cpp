#include "ETWLogging/ModuleVersionInfo.h"

#include <cwchar>
#include <mutex>
#include <vector>

namespace ETWLogging {

namespace {

const int kOwnDataAddress = 0;

HMODULE moduleOfThisCode()
{
    MEMORY_BASIC_INFORMATION info = {};
    if (VirtualQuery(&kOwnDataAddress, &info, sizeof(info)) == 0)
        return nullptr;
    return static_cast<HMODULE>(info.AllocationBase);
}

} // namespace

std::wstring GetModuleFileNameString(HMODULE module)
{
    std::vector<wchar_t> buffer;
    for (DWORD size = 255; size <= 32767 + 255; size += 255) {
        buffer.assign(size, L'\0');
        const DWORD length = GetModuleFileNameW(module, buffer.data(), size);
        if (length == 0)
            return {};
        // A truncated result is not always terminated (Wine): trust only a
        // length that left room.
        if (length < size)
            return std::wstring(buffer.data(), length);
    }
    return {};
}

std::wstring NormaliseVersionText(const std::wstring& text)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    int consumed = 0;
    if (swscanf(text.c_str(), L"%u,%u,%u,%u%n", &a, &b, &c, &d, &consumed) == 4 &&
        static_cast<size_t>(consumed) == text.size()) {
        wchar_t out[64];
        swprintf(out, 64, L"%u.%u.%u.%u", a, b, c, d);
        return out;
    }
    return text;
}

std::wstring ReadFileVersionText(const std::wstring& path)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return {};
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
        return {};
    void* translation = nullptr;
    UINT translationSize = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &translation, &translationSize) ||
        !translation || translationSize < 4)
        return {};
    const WORD* pair = static_cast<const WORD*>(translation);
    wchar_t query[64];
    swprintf(query, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", pair[0], pair[1]);
    void* value = nullptr;
    UINT valueLength = 0;
    if (!VerQueryValueW(data.data(), query, &value, &valueLength) || !value || valueLength == 0)
        return {};
    const wchar_t* text = static_cast<const wchar_t*>(value);
    // The length counts the terminator when there is one; never read past it.
    return NormaliseVersionText(std::wstring(text, wcsnlen(text, valueLength)));
}

const ModuleVersionInfo& LoadModuleVersionInfo()
{
    static std::once_flag once;
    static ModuleVersionInfo info;
    // The body cannot throw but for memory; a half-read record is harmless.
    std::call_once(once, [] {
        try {
            info.path = GetModuleFileNameString(moduleOfThisCode());
            const size_t slash = info.path.rfind(L'\\');
            info.folder = slash == std::wstring::npos ? std::wstring() : info.path.substr(0, slash + 1);
            info.version = info.path.empty() ? std::wstring() : ReadFileVersionText(info.path);
        } catch (...) {
        }
    });
    return info;
}

} // namespace ETWLogging

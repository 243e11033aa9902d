#include "Version/FileVersionInfo.h"

#include "FormatString.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace Halvex {

const wchar_t* VersionStringName(VersionString which)
{
    static const wchar_t* const names[] = {
        L"CompanyName", L"FileVersion", L"FileDescription", L"LegalCopyright", L"ProductName", L"ProductVersion",
    };
    const auto index = static_cast<size_t>(which);
    return index < sizeof(names) / sizeof(names[0]) ? names[index] : L"";
}

bool FileVersionInfo::Load(const std::wstring& path)
{
    if (m_loaded || path.empty())
        return false;
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return false;
    m_data.assign(size, 0);
    m_loaded = GetFileVersionInfoW(path.c_str(), 0, size, m_data.data()) == 1;
    if (!m_loaded)
        m_data.clear();
    return m_loaded;
}

std::wstring FileVersionInfo::GetString(const std::wstring& name) const
{
    if (!m_loaded || m_data.empty())
        return std::wstring();
    // VerQueryValueW takes a non-const block but only reads it.
    void* block = const_cast<uint8_t*>(m_data.data());
    const uint8_t* const end = m_data.data() + m_data.size();

    void* translations = nullptr;
    UINT translationBytes = 0;
    if (!VerQueryValueW(block, L"\\VarFileInfo\\Translation", &translations, &translationBytes) ||
        translations == nullptr)
        return std::wstring();
    const auto* entry = static_cast<const uint8_t*>(translations);
    if (entry < m_data.data() || entry > end)
        return std::wstring();
    const size_t entries = std::min<size_t>(translationBytes, end - entry) / 4;

    for (size_t i = 0; i < entries; ++i) {
        WORD language = 0;
        WORD codePage = 0;
        memcpy(&language, entry + i * 4, sizeof(language));
        memcpy(&codePage, entry + i * 4 + 2, sizeof(codePage));
        const std::wstring subBlock =
            FormatString(L"\\StringFileInfo\\%04X%04X\\%ls", language, codePage, name.c_str());
        void* value = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(block, subBlock.c_str(), &value, &chars) || value == nullptr)
            continue;
        // The text ends at its first NUL, and never beyond the resource.
        const auto* text = static_cast<const wchar_t*>(value);
        const auto* textBytes = reinterpret_cast<const uint8_t*>(text);
        if (textBytes < m_data.data() || textBytes >= end)
            continue;
        const size_t room = static_cast<size_t>(end - textBytes) / sizeof(wchar_t);
        return std::wstring(text, wcsnlen(text, std::min<size_t>(chars, room)));
    }
    return std::wstring();
}

} // namespace Halvex

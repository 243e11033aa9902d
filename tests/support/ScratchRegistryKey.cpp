#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include <shlwapi.h>
#include <vector>

namespace TestSupport {

ScratchRegistryKey::ScratchRegistryKey(HKEY root, const std::wstring& stem)
    : m_root(root), m_path(L"Software\\SentrelTests\\" + uniqueName(stem.empty() ? L"key" : stem))
{
    SHDeleteKeyW(m_root, m_path.c_str());
    RegCreateKeyExW(m_root, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &m_handle, nullptr);
}

ScratchRegistryKey::~ScratchRegistryKey()
{
    if (m_handle)
        RegCloseKey(m_handle);
    SHDeleteKeyW(m_root, m_path.c_str());
}

void ScratchRegistryKey::setRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const
{
    RegSetValueExW(m_handle, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

bool ScratchRegistryKey::getRaw(const std::wstring& name, DWORD& type, std::string& bytes) const
{
    DWORD size = 0;
    if (RegQueryValueExW(m_handle, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return false;
    std::vector<char> buffer(size + 1);
    if (RegQueryValueExW(m_handle, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
        ERROR_SUCCESS)
        return false;
    bytes.assign(buffer.data(), size);
    return true;
}

} // namespace TestSupport

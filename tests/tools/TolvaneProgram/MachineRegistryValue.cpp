#include "MachineRegistryValue.h"

#include <utility>

namespace {

HKEY openKey(const std::wstring& subkey)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

} // namespace

MachineRegistryValue::MachineRegistryValue(std::wstring subkey, std::wstring name)
    : m_subkey(std::move(subkey)), m_name(std::move(name))
{
    HKEY key = openKey(m_subkey);
    if (!key)
        return;
    DWORD size = 0;
    if (RegQueryValueExW(key, m_name.c_str(), nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
        m_bytes.resize(size);
        m_existed = RegQueryValueExW(key, m_name.c_str(), nullptr, &m_type, reinterpret_cast<BYTE*>(&m_bytes[0]),
                                     &size) == ERROR_SUCCESS;
        m_bytes.resize(size);
    }
    RegCloseKey(key);
}

MachineRegistryValue::~MachineRegistryValue()
{
    HKEY key = openKey(m_subkey);
    if (!key)
        return;
    if (m_existed)
        RegSetValueExW(key, m_name.c_str(), 0, m_type, reinterpret_cast<const BYTE*>(m_bytes.data()),
                       static_cast<DWORD>(m_bytes.size()));
    else
        RegDeleteValueW(key, m_name.c_str());
    RegCloseKey(key);
}

bool MachineRegistryValue::set(const std::wstring& text) const
{
    HKEY key = openKey(m_subkey);
    if (!key)
        return false;
    const LONG result = RegSetValueExW(key, m_name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void MachineRegistryValue::remove() const
{
    HKEY key = openKey(m_subkey);
    if (!key)
        return;
    RegDeleteValueW(key, m_name.c_str());
    RegCloseKey(key);
}

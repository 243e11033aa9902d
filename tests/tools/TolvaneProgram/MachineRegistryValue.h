#pragma once
#include <windows.h>

#include <string>

// Sets a string value below HKEY_LOCAL_MACHINE (64-bit view) for the life of
// the object, or removes it, and puts back what was there before.
class MachineRegistryValue {
public:
    MachineRegistryValue(std::wstring subkey, std::wstring name);
    ~MachineRegistryValue();
    MachineRegistryValue(const MachineRegistryValue&) = delete;
    MachineRegistryValue& operator=(const MachineRegistryValue&) = delete;

    bool set(const std::wstring& text) const;
    void remove() const;

private:
    std::wstring m_subkey;
    std::wstring m_name;
    bool m_existed = false;
    DWORD m_type = 0;
    std::string m_bytes;
};

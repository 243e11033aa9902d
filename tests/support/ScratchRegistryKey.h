#pragma once
#include <windows.h>
#include <string>

namespace TestSupport {

// A registry key of the test's own, HKEY_CURRENT_USER\Software\SentrelTests\<unique>
// unless another root is given; the whole tree is deleted when the object goes.
// Uses the registry API directly so that tests do not lean on the code they test.
class ScratchRegistryKey {
public:
    explicit ScratchRegistryKey(HKEY root = HKEY_CURRENT_USER, const std::wstring& stem = L"");
    ~ScratchRegistryKey();
    ScratchRegistryKey(const ScratchRegistryKey&) = delete;
    ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;

    HKEY root() const { return m_root; }
    const std::wstring& path() const { return m_path; } // below root
    HKEY handle() const { return m_handle; }             // KEY_ALL_ACCESS

    void setRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const;
    // Reads a value raw; false when it is missing.
    bool getRaw(const std::wstring& name, DWORD& type, std::string& bytes) const;

private:
    HKEY m_root;
    std::wstring m_path;
    HKEY m_handle = nullptr;
};

} // namespace TestSupport

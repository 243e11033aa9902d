#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

namespace Ostrand {

// Reads single values below HKEY_LOCAL_MACHINE. Every failure (key or value
// missing, wrong type, too long) is MODULE_STATUS_UNSUCCESSFUL and leaves the
// out-value as it was; nothing is logged.
class RegistryAPI {
public:
    virtual ~RegistryAPI();

    // Values of up to 259 characters; a longer one is refused, never cut.
    virtual uint32_t readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& text);
    virtual uint32_t readDword(const std::wstring& keyPath, const std::wstring& valueName, uint32_t& value);
};

} // namespace Ostrand

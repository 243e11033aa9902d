#pragma once
#include "ETWLogging/ETWAppProperties.h"
#include "Logging/CLoggingIf.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace ETWLogging {

class CETWLogging;

// Applies a session's enable state and level to the logger, then lets the
// registry pin them: the provider key, then its subkey for the group, then
// the subkey for the group and module, later keys winning.
class CETWConfigurationListener : public LoggingConfigListenerIf {
public:
    explicit CETWConfigurationListener(const internal::ETWAppProperties& properties);
    void OnConfigurationChanged(bool enabled, uint32_t level, uint32_t flags) override;
    ~CETWConfigurationListener() override = default;
    virtual bool Attach(CETWLogging* logger);
    virtual void GetProviderKey(HKEY& root, std::wstring& path) const;
    // Plain 32-bit "Enable" and "Severity" values of one key, when it opens.
    virtual void ApplyRegistrySettings(HKEY root, const std::wstring& path);

private:
    internal::ETWAppProperties m_properties;
    CETWLogging* m_logger = nullptr;
};

} // namespace ETWLogging

#include "ETWLogging/CETWConfigurationListener.h"
#include "ETWLogging/CETWLogging.h"
#include "Registry/CRegKey.h"

namespace ETWLogging {

CETWConfigurationListener::CETWConfigurationListener(const internal::ETWAppProperties& properties)
    : m_properties(properties)
{
}

bool CETWConfigurationListener::Attach(CETWLogging* logger)
{
    if (m_logger || !logger)
        return false;
    m_logger = logger;
    return true;
}

void CETWConfigurationListener::GetProviderKey(HKEY& root, std::wstring& path) const
{
    root = m_properties.rootKey;
    path = m_properties.providerKeyPath;
}

void CETWConfigurationListener::OnConfigurationChanged(bool enabled, uint32_t level, uint32_t)
{
    if (!m_logger)
        return;
    m_logger->SetEnabled(enabled);
    m_logger->SetSeverity(level);
    HKEY root = nullptr;
    std::wstring path;
    GetProviderKey(root, path);
    ApplyRegistrySettings(root, path);
    ApplyRegistrySettings(root, path + L"\\" + m_logger->GroupName());
    ApplyRegistrySettings(root, path + L"\\" + m_logger->QualifiedName());
}

void CETWConfigurationListener::ApplyRegistrySettings(HKEY root, const std::wstring& path)
{
    Halvex::CRegKey key;
    if (key.Open(root, path.c_str(), KEY_QUERY_VALUE) != ERROR_SUCCESS)
        return;
    DWORD value = 0;
    if (key.QueryDWORDValue(L"Enable", value) == ERROR_SUCCESS)
        m_logger->SetEnabled(value != 0);
    if (key.QueryDWORDValue(L"Severity", value) == ERROR_SUCCESS)
        m_logger->SetSeverity(value);
}

} // namespace ETWLogging

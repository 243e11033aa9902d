#include "AnalyticsAPI/CSDKConnector.h"

#include "AnalyticsAPI/CLegacyTransport.h"
#include "AnalyticsAPI/CNullTransport.h"
#include "AnalyticsAPI/internal/ReplaceAll.h"
#include "Replacements/CommonReplacements.h"

#include <mutex>

namespace Ostrand {
namespace Analytics {

namespace {

std::mutex& ConnectorMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

std::shared_ptr<const TransportList> DefaultTransports()
{
    // Made on first use rather than at load: nothing here may run before a
    // tool has restricted its library search.
    static const std::shared_ptr<const TransportList> transports = std::make_shared<const TransportList>(
        TransportList{std::make_shared<CLegacyTransport>(), std::make_shared<CNullTransport>()});
    return transports;
}

CSDKConnector::CSDKConnector(std::shared_ptr<const TransportList> transports)
    : m_transports(transports ? std::move(transports) : DefaultTransports())
{
}

CSDKConnector::~CSDKConnector() = default;

bool CSDKConnector::Connect()
{
    m_transport.reset();
    m_transport = SelectTransport();
    return static_cast<bool>(m_transport);
}

std::shared_ptr<internal::ITransport> CSDKConnector::SelectTransport()
{
    std::lock_guard<std::mutex> lock(ConnectorMutex());
    for (const auto& transport : *m_transports) {
        if (!transport)
            continue;
        if (transport->IsAvailable())
            return transport;
        transport->Close();
    }
    return std::make_shared<CNullTransport>();
}

bool CSDKConnector::Send(DimensionMap& dimensions)
{
    if (!m_transport)
        return false;
    try {
        std::wstring caller = L"$(App.Path)";
        Halvex::CommonReplacements().expand(caller);
        internal::ReplaceAll(caller, L"\\", L"\\\\");
        dimensions[L"__caller.name"] = caller;
        dimensions[L"__transport.name"] = m_transport->GetName() + L" v" + std::to_wstring(m_transport->GetVersion());
        return m_transport->Send(dimensions);
    } catch (...) {
        return false;
    }
}

void CSDKConnector::Disconnect()
{
    if (!m_transport)
        return;
    m_transport->Close();
    m_transport.reset();
}

} // namespace Analytics
} // namespace Ostrand

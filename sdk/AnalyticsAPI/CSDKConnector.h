#pragma once
#include "AnalyticsAPI/Dimensions.h"
#include "AnalyticsAPI/internal/ITransport.h"

#include <memory>
#include <vector>

namespace Ostrand {
namespace Analytics {

using TransportList = std::vector<std::shared_ptr<internal::ITransport>>;

// The process's transports in the order they are tried: the COM server, then the null transport.
std::shared_ptr<const TransportList> DefaultTransports();

// Chooses a transport for one send, adds the sender's dimensions and passes the record on.
class CSDKConnector {
public:
    // An empty list stands for the process's default transports.
    explicit CSDKConnector(std::shared_ptr<const TransportList> transports = {});
    virtual ~CSDKConnector();

    virtual bool Connect();
    virtual bool Send(DimensionMap& dimensions);
    virtual void Disconnect();
    virtual std::shared_ptr<internal::ITransport> SelectTransport();

private:
    std::shared_ptr<const TransportList> m_transports;
    std::shared_ptr<internal::ITransport> m_transport;
};

} // namespace Analytics
} // namespace Ostrand

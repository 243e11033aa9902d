#pragma once
#include "AnalyticsAPI/internal/ITransport.h"

namespace Ostrand {
namespace Analytics {

// Accepts and drops every record: the route when no telemetry server can be reached.
class CNullTransport : public internal::CBaseTransport {
public:
    CNullTransport() : CBaseTransport(L"NULL-Pattern", 1) {}
    bool IsAvailable() override { return true; }
    bool Send(const DimensionMap&) override { return true; }
    void Close() override {}
};

} // namespace Analytics
} // namespace Ostrand

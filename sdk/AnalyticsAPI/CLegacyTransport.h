#pragma once
#include "AnalyticsAPI/IFormatter.h"
#include "AnalyticsAPI/internal/ITransport.h"

#include <windows.h>

#include <memory>

namespace Ostrand {
namespace Analytics {

// Sends each record as JSON text to the telemetry COM server; a new COM object per call.
class CLegacyTransport : public internal::CBaseTransport {
public:
    // An all-zero class id stands for the telemetry server's own.
    explicit CLegacyTransport(const CLSID& classId = CLSID{});

    bool IsAvailable() override;
    bool Send(const DimensionMap& dimensions) override;
    void Close() override {}

    const CLSID& ClassId() const { return m_classId; }

private:
    CLSID m_classId;
    std::unique_ptr<IFormatter> m_formatter;
};

} // namespace Analytics
} // namespace Ostrand

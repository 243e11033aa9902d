#pragma once
#include "AnalyticsAPI/Dimensions.h"

#include <string>

namespace Ostrand {
namespace Analytics {

class IFormatter {
public:
    virtual ~IFormatter() = default;
    virtual bool Format(const DimensionMap& dimensions, std::wstring& output) = 0;
};

// One flat JSON object of string members, escaped for the telemetry server.
class CJSONFormatter : public IFormatter {
public:
    bool Format(const DimensionMap& dimensions, std::wstring& output) override;
};

} // namespace Analytics
} // namespace Ostrand

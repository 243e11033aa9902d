#pragma once
#include "AnalyticsAPI/Dimensions.h"

#include <cstdint>
#include <string>

namespace Ostrand {
namespace Analytics {
namespace internal {

class ITransport {
public:
    virtual ~ITransport() = default;
    virtual bool IsAvailable() = 0;
    virtual bool Send(const DimensionMap& dimensions) = 0;
    virtual void Close() = 0;
    virtual std::wstring GetName() = 0;
    virtual int32_t GetVersion() = 0;
};

class CBaseTransport : public ITransport {
public:
    CBaseTransport(std::wstring name, int32_t version) : m_name(std::move(name)), m_version(version) {}
    std::wstring GetName() override { return m_name; }
    int32_t GetVersion() override { return m_version; }

private:
    std::wstring m_name;
    int32_t m_version;
};

} // namespace internal
} // namespace Analytics
} // namespace Ostrand

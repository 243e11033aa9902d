#pragma once
#include "AnalyticsAPI/Dimensions.h"

#include "Logging/Log.h"

#include <cstdint>
#include <string>

namespace Ostrand {
namespace Analytics {
namespace internal {

// A record of named text values, sent whole through the connector.
class CTracker {
public:
    explicit CTracker(const wchar_t* type);
    CTracker(const CTracker& other);
    CTracker& operator=(const CTracker& other);
    virtual ~CTracker();

    // Adds the bookkeeping dimensions and hands the record to a transport.
    // Fire and forget: nothing that fails here reaches the caller.
    virtual void Send();
    // Stores a dimension without the private-name test; an empty key is ignored.
    virtual void Set(const std::wstring& key, const std::wstring& value);

    const DimensionMap& Dimensions() const;

    class _Impl;

private:
    _Impl* m_impl;
};

// True for names the SDK keeps for itself: two underscores and at least nothing more.
bool IsPrivateDimension(const std::wstring& key);

// The "__record.created" text for seconds since 1970 UTC; false when the
// seconds cannot be shown as a calendar time.
bool FormatRecordTime(int64_t seconds, std::wstring& text);

extern const wchar_t kTrackerSource[];
extern const wchar_t kAddFunction[];

// Supplies the chaining Add overloads to an event type.
template <class Derived, class Base>
class CFluentTracker : public Base {
public:
    using Base::Base;

    Derived& Add(const wchar_t* key, const wchar_t* value)
    {
        if (!key) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kTrackerSource, kAddFunction,
                    L"Adding dimension with a [null] name - ignored.");
            return self();
        }
        return Add(std::wstring(key), std::wstring(value ? value : L""));
    }

    Derived& Add(const std::wstring& key, const std::wstring& value)
    {
        if (IsPrivateDimension(key)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kTrackerSource, kAddFunction,
                    L"Illegal request to add private dimension ('%s ='%s') - Ignored", key.c_str(), value.c_str());
            return self();
        }
        this->Set(key, value);
        return self();
    }

    Derived& Add(const wchar_t* key, uint32_t value)
    {
        return Add(key, std::to_wstring(value).c_str());
    }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
};

} // namespace internal
} // namespace Analytics
} // namespace Ostrand

#pragma once
#include "AnalyticsAPI/internal/Tracker.h"

#include <cstdint>
#include <string>

namespace Ostrand {
namespace Analytics {
namespace v2 {

// One occurrence: named, given dimensions in a chain, then sent.
class CEvent : public internal::CFluentTracker<CEvent, internal::CTracker> {
public:
    explicit CEvent(const wchar_t* name);

    virtual CEvent& Category(const std::wstring& value);
    virtual CEvent& Category(const wchar_t* value);
    virtual CEvent& Action(const std::wstring& value);
    virtual CEvent& Action(const wchar_t* value);
    virtual CEvent& Label(const std::wstring& value);
    virtual CEvent& Label(const wchar_t* value);
    virtual CEvent& Value(uint32_t value);
};

} // namespace v2
} // namespace Analytics
} // namespace Ostrand

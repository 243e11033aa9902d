#include "AnalyticsAPI/v2/Event.h"

namespace Ostrand {
namespace Analytics {
namespace v2 {

CEvent::CEvent(const wchar_t* name) : CFluentTracker(L"event")
{
    Add(L"UniqueIdentifier", name);
}

CEvent& CEvent::Category(const std::wstring& value)
{
    Set(L"Event.Category", value);
    return *this;
}

CEvent& CEvent::Category(const wchar_t* value)
{
    return Add(L"Event.Category", value);
}

CEvent& CEvent::Action(const std::wstring& value)
{
    Set(L"Event.Action", value);
    return *this;
}

CEvent& CEvent::Action(const wchar_t* value)
{
    return Add(L"Event.Action", value);
}

CEvent& CEvent::Label(const std::wstring& value)
{
    Set(L"Event.Label", value);
    return *this;
}

CEvent& CEvent::Label(const wchar_t* value)
{
    return Add(L"Event.Label", value);
}

CEvent& CEvent::Value(uint32_t value)
{
    return Add(L"Event.Value", value);
}

} // namespace v2
} // namespace Analytics
} // namespace Ostrand

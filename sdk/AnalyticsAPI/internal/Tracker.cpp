#include "AnalyticsAPI/internal/Tracker.h"

#include "AnalyticsAPI/CSDKConnector.h"

#include <windows.h>

#include <ctime>

namespace Ostrand {
namespace Analytics {

std::wstring BoolToString(bool value)
{
    return value ? L"true" : L"false";
}

namespace internal {

const wchar_t kTrackerSource[] = L"AnalyticsAPI/internal/Tracker";
const wchar_t kAddFunction[] =
    L"Ostrand::Analytics::internal::CFluentTracker<Ostrand::Analytics::v2::CEvent,"
    L"Ostrand::Analytics::internal::CTracker>::Add";

class CTracker::_Impl {
public:
    explicit _Impl(const wchar_t* type) : m_type(type ? type : L"") {}
    virtual ~_Impl() = default;

    void Send();

    std::wstring m_type;
    DimensionMap m_dimensions;
};

namespace {

// 100-ns ticks between 1601-01-01 and 1970-01-01.
const int64_t kUnixEpochInFileTime = 116444736000000000LL;

int64_t SecondsSince1970()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return (static_cast<int64_t>(ticks.QuadPart) - kUnixEpochInFileTime) / 10000000LL;
}

int64_t MonotonicSeconds()
{
    LARGE_INTEGER counter{}, frequency{};
    if (!QueryPerformanceCounter(&counter) || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
        return 0;
    return counter.QuadPart / frequency.QuadPart;
}

} // namespace

bool FormatRecordTime(int64_t seconds, std::wstring& text)
{
    if (seconds < 0)
        return false;
    const __time64_t value = seconds;
    struct tm parts {};
    if (_gmtime64_s(&parts, &value) != 0)
        return false;
    if (parts.tm_sec < 0 || parts.tm_sec > 60 || parts.tm_min < 0 || parts.tm_min > 59 || parts.tm_hour < 0 ||
        parts.tm_hour > 23 || parts.tm_mday < 1 || parts.tm_mday > 31 || parts.tm_mon < 0 || parts.tm_mon > 11 ||
        parts.tm_year < 0 || parts.tm_wday < 0 || parts.tm_wday > 6 || parts.tm_yday < 0 || parts.tm_yday > 365)
        return false;
    wchar_t buffer[50] = {};
    // msvcrt's wcsftime does not know "%T"; "%H:%M:%S" is the same text.
    if (wcsftime(buffer, 50, L"%Y-%m-%d %H:%M:%SZ", &parts) == 0)
        return false;
    text = buffer;
    return true;
}

bool IsPrivateDimension(const std::wstring& key)
{
    return key.size() >= 2 && key[0] == L'_' && key[1] == L'_';
}

void CTracker::_Impl::Send()
{
    m_dimensions[L"__track.api.version"] = L"1.2.0";
    m_dimensions[L"Tracker.Type"] = m_type;

    const int64_t seconds = SecondsSince1970();
    std::wstring created;
    if (FormatRecordTime(seconds, created))
        m_dimensions[L"__record.created"] = created;
    else
        m_dimensions[L"__record.created.raw"] = std::to_wstring(seconds);
    m_dimensions[L"__record.created.seconds"] = std::to_wstring(MonotonicSeconds());

    CSDKConnector connector;
    connector.Connect();
    connector.Send(m_dimensions);
    connector.Disconnect();
}

CTracker::CTracker(const wchar_t* type) : m_impl(new _Impl(type)) {}

CTracker::CTracker(const CTracker& other) : m_impl(new _Impl(*other.m_impl)) {}

CTracker& CTracker::operator=(const CTracker& other)
{
    if (this != &other) {
        _Impl* copy = new _Impl(*other.m_impl);
        delete m_impl;
        m_impl = copy;
    }
    return *this;
}

CTracker::~CTracker()
{
    delete m_impl;
}

void CTracker::Send()
{
    // Telemetry must never end the caller's work: a failed send is dropped.
    try {
        m_impl->Send();
    } catch (...) {
    }
}

void CTracker::Set(const std::wstring& key, const std::wstring& value)
{
    if (key.empty())
        return;
    m_impl->m_dimensions[key] = value;
}

const DimensionMap& CTracker::Dimensions() const
{
    return m_impl->m_dimensions;
}

} // namespace internal
} // namespace Analytics
} // namespace Ostrand

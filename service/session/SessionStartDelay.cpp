#include "session/SessionStartDelay.h"

#include <windows.h>
#include <wtsapi32.h>

#include <cstddef>
#include <cstring>
#include <memory>

namespace Kest {
namespace SessionStartDelay {

namespace {

static_assert(sizeof(WTSINFOW) == kSessionInfoSize, "the session information record this code reads");

constexpr uint64_t kTicksPerSecond = 10000000;

struct WtsMemoryFree {
    void operator()(void* memory) const { WTSFreeMemory(memory); }
};

} // namespace

SessionLogon queryLogon(uint32_t sessionId)
{
    SessionLogon logon;
    LPWSTR buffer = nullptr;
    DWORD size = 0;
    if (!WTSQuerySessionInformationW(WTS_CURRENT_SERVER_HANDLE, sessionId, WTSSessionInfo, &buffer, &size)) {
        logon.error = GetLastError();
        return logon;
    }
    const std::unique_ptr<void, WtsMemoryFree> owned(buffer);
    if (!buffer || size != kSessionInfoSize) {
        logon.answer = SessionLogon::Answer::UnexpectedSize;
        return logon;
    }
    LARGE_INTEGER logonTime{};
    std::memcpy(&logonTime, reinterpret_cast<const char*>(buffer) + offsetof(WTSINFOW, LogonTime), sizeof logonTime);
    logon.answer = SessionLogon::Answer::LogonTime;
    logon.logonTime = static_cast<uint64_t>(logonTime.QuadPart);
    return logon;
}

uint64_t now()
{
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

uint64_t seconds(const SessionLogon& logon, uint64_t now)
{
    if (logon.answer != SessionLogon::Answer::LogonTime)
        return kDefaultSeconds;
    // Unsigned: a log-on time ahead of the clock reads as long ago, so a
    // clock set back never holds alerts up for longer than the two minutes.
    const uint64_t sinceLogon = (now - logon.logonTime) / kTicksPerSecond;
    return sinceLogon <= kDefaultSeconds ? kDefaultSeconds - sinceLogon : 0;
}

} // namespace SessionStartDelay
} // namespace Kest

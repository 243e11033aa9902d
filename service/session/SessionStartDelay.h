#pragma once
#include <cstdint>

namespace Kest {

// What the system says about when the user of a session logged on.
struct SessionLogon {
    enum class Answer {
        LogonTime,      // `logonTime` holds it
        UnexpectedSize, // the session information had a size this code does not know
        Failed,         // the query failed; `error` says why
    };
    Answer answer = Answer::Failed;
    uint32_t error = 0;
    uint64_t logonTime = 0; // 100-ns ticks since 1601-01-01 UTC, as the system keeps it
};

// How long a new user session waits before it shows its first alert: the
// first two minutes after a log-on belong to the desktop coming up, and an
// alert shown then is easily lost.
namespace SessionStartDelay {

constexpr uint64_t kDefaultSeconds = 120;
// The size of the session information record this code reads.
constexpr uint32_t kSessionInfoSize = 216;

SessionLogon queryLogon(uint32_t sessionId);
// The system time in the ticks of `SessionLogon::logonTime`.
uint64_t now();
// The rest of the two minutes after the log-on; the whole two minutes when
// the log-on time is not known.
uint64_t seconds(const SessionLogon& logon, uint64_t now);

} // namespace SessionStartDelay
} // namespace Kest

#pragma once
// The state of the session API double, in named shared memory that the test
// (WtsDoubleControl) writes and the double reads in whichever process loads
// it: the name travels in an environment variable, so children inherit it
// and tests running side by side never see each other's sessions.
#include <windows.h>

#include <cstdint>

namespace WtsDouble {

constexpr wchar_t kStateVariable[] = L"WTS_DOUBLE_STATE";
constexpr uint32_t kStateMagic = 0x57545344;
constexpr uint32_t kMostEntries = 16;

struct SessionRecord {
    uint32_t id;
    uint32_t state; // WTS_CONNECTSTATE_CLASS
};

// How the double answers the session information query for one session.
struct InfoRecord {
    uint32_t id;
    uint32_t fails;   // nonzero: the query fails with `error` as the last error
    uint32_t error;
    uint32_t size;    // bytes answered; the record's own size is the normal answer
    int64_t logonTime; // 100-ns ticks since 1601
};

struct State {
    uint32_t magic;
    volatile LONG lock;
    uint32_t enumerateFails;
    uint32_t enumerateError;
    uint32_t sessionCount;
    SessionRecord sessions[kMostEntries];
    uint32_t infoCount;
    InfoRecord infos[kMostEntries];
    volatile LONG enumerateCalls;
    volatile LONG queryCalls;
};

// A spin lock in the shared state: writers are tests, readers a call of the
// double, both short.
class StateLock {
public:
    explicit StateLock(State* state) : m_state(state)
    {
        while (InterlockedCompareExchange(&m_state->lock, 1, 0) != 0)
            SwitchToThread();
    }
    ~StateLock() { InterlockedExchange(&m_state->lock, 0); }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    State* m_state;
};

} // namespace WtsDouble

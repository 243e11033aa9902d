#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace WtsDouble {

struct State;

// The connection states of the system's session list (WTS_CONNECTSTATE_CLASS).
enum class ConnectState : uint32_t {
    Active = 0,
    Connected = 1,
    ConnectQuery = 2,
    Shadow = 3,
    Disconnected = 4,
    Idle = 5,
    Listen = 6,
    Reset = 7,
    Down = 8,
    Init = 9,
};

struct Session {
    uint32_t id;
    ConnectState state;
};

// What the session API double (a wtsapi32.dll beside the test program, see
// project_use_wts_double) answers, set by the test while it runs. Making one
// gives the double a state of its own, named in an environment variable of
// this process that child processes inherit; at first there are no sessions,
// the list succeeds and every information query fails with last error 0.
// One per process at a time.
class WtsDoubleControl {
public:
    WtsDoubleControl();
    ~WtsDoubleControl();
    WtsDoubleControl(const WtsDoubleControl&) = delete;
    WtsDoubleControl& operator=(const WtsDoubleControl&) = delete;

    // False when the shared state could not be made.
    bool ready() const { return m_state != nullptr; }
    // True when the session library this process loaded is the double, that
    // is when the override reached the test.
    static bool doubleLoaded();

    // The session list, in this order.
    void setSessions(const std::vector<Session>& sessions);
    // Only this session, active.
    void setActiveSession(uint32_t sessionId);
    // Listing fails with this last error (0 included) until succeedListing.
    void failListing(uint32_t error);
    void succeedListing();

    // The session information of the session answers this log-on time
    // (100-ns ticks since 1601) in a record of the normal size.
    void setLogonTime(uint32_t sessionId, uint64_t fileTimeTicks);
    void setLoggedOnSecondsAgo(uint32_t sessionId, uint64_t seconds);
    // The session information answers `size` bytes instead.
    void setInfoSize(uint32_t sessionId, uint32_t size);
    // The session information query fails with this last error.
    void failInfo(uint32_t sessionId, uint32_t error);

    uint32_t listingCalls() const;
    uint32_t infoCalls() const;

    // The system time in 100-ns ticks since 1601.
    static uint64_t now();

private:
    // The information record of the session, added when missing.
    void updateInfo(uint32_t sessionId, uint32_t fails, uint32_t error, uint32_t size, uint64_t logonTime);

    void* m_mapping = nullptr;
    State* m_state = nullptr;
    std::wstring m_name;
};

} // namespace WtsDouble

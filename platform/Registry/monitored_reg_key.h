#pragma once
#include "Registry/CRegKey.h"
#include "Thread/CEventFactory.h"
#include "Thread/CEventHandle.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace Halvex {

// Watches one registry key on a thread of its own and calls a callback each
// time the key (or, on request, its subtree) changes, until it is stopped.
// The notification is re-armed after every callback, so a change made while
// the callback runs is reported by the next pass where the system remembers
// it. Nothing the callback throws leaves the worker: it is logged, and
// watching goes on.
//
// Used from one owner thread; the callback runs on the worker. The monitor
// must not be destroyed from its own callback.
class monitored_reg_key {
public:
    // keyImpl: the implementation the owned key works through (empty: a plain
    // registry key). events: where the worker's events come from (empty: the
    // system's).
    explicit monitored_reg_key(std::shared_ptr<internal::CRegKeyImpl> keyImpl = {},
                               std::shared_ptr<CEventFactory> events = {});
    virtual ~monitored_reg_key();

    monitored_reg_key(const monitored_reg_key&) = delete;
    monitored_reg_key& operator=(const monitored_reg_key&) = delete;

    // Stop watching and close the key, then create or open it anew.
    virtual LONG create(HKEY parent, LPCWSTR subkey, LPWSTR keyClass = nullptr,
                        DWORD options = REG_OPTION_NON_VOLATILE, REGSAM access = KEY_READ | KEY_WRITE,
                        LPSECURITY_ATTRIBUTES security = nullptr, DWORD* disposition = nullptr);
    virtual LONG open(HKEY parent, LPCWSTR subkey, REGSAM access = KEY_READ | KEY_WRITE);
    // Stop watching, then close the key; the key's Close result.
    virtual LONG close();

    // Stops a worker that runs, then starts watching with the given
    // RegNotifyChangeKeyValue filter. False when the key is not open, the
    // callback is empty, or the worker's events or thread cannot be had.
    virtual bool start(std::function<void()> callback, bool watchSubtree, DWORD notifyFilter);
    // Ends the worker and waits for it. Throws std::system_error when called
    // from the callback (the worker then ends at its next wait).
    virtual bool stop();

protected:
    // The worker's body. Returns 0 when stopped, the notification call's own
    // result when arming fails (the key was deleted or closed), or the wait's
    // error.
    virtual uint32_t registry_callback_thread(bool watchSubtree, DWORD notifyFilter);

public:
    // Stop watching and close the key.
    virtual void reset();

private:
    void thread_main(bool watchSubtree, DWORD notifyFilter);
    void closeEvents();

    std::unique_ptr<CRegKey> m_key;
    std::function<void()> m_callback;
    std::thread m_worker;
    CEventHandle m_stopEvent;
    CEventHandle m_notifyEvent;
    std::shared_ptr<CEventFactory> m_events;
};

} // namespace Halvex

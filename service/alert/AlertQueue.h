#pragma once
#include "alert/Alert.h"

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>

namespace Kest {

// The alerts waiting to be shown: most urgent first, the earlier one first
// among equals, never two that show the same thing. Every operation takes the
// queue's lock, always the innermost lock of its caller.
class AlertQueue {
public:
    AlertQueue() = default;
    ~AlertQueue();
    AlertQueue(const AlertQueue&) = delete;
    AlertQueue& operator=(const AlertQueue&) = delete;

    // False for an empty pointer and for a duplicate of a waiting alert,
    // which is then not kept.
    bool insert(std::shared_ptr<Alert> alert);
    // Gives an alert taken out but not shown its place again: behind the
    // more urgent and, among equals, behind the older, in front of the rest.
    // No duplicate test: an equal alert came in while this one was out, and
    // was accepted then; both were answered as queued. False for an empty
    // pointer.
    bool putBack(std::shared_ptr<Alert> alert);
    // Removes the front-most alert with exactly this instance id.
    bool remove(const std::wstring& instanceId);
    // The front alert, taken out; empty when none waits.
    std::shared_ptr<Alert> pop();
    // The front alert, left in place; empty when none waits.
    std::shared_ptr<Alert> peek();
    uint64_t count();
    void clear();

private:
    std::mutex m_lock;
    std::list<std::shared_ptr<Alert>> m_alerts;
    uint64_t m_count = 0;
};

} // namespace Kest

#pragma once
#include "message/Message.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace Ostrand {

// The pending answer of a bus request, awaited with a deadline.
class Reply {
public:
    enum Status : int32_t {
        Received = 0,
        Pending = 1,
        TimedOut = 2,
        Failed = 3,
    };

    virtual ~Reply() = default;
    // The stored status, without waiting.
    virtual int32_t peekStatus() const = 0;
    // The answer once the stored status is Received; empty otherwise. Never waits.
    virtual std::shared_ptr<Message> getMessage() const = 0;
    // Evaluates once while pending (may wait until the deadline).
    virtual int32_t getStatus() = 0;
    // Waits at most `duration` for the answer.
    virtual int32_t waitFor(const std::chrono::milliseconds duration) = 0;
};

} // namespace Ostrand

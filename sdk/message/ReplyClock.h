#pragma once
#include <cstdint>

namespace Ostrand {

// The clock of reply deadlines: milliseconds that do not advance while the
// machine sleeps. Injected so that tests can move time instead of waiting.
class ReplyClock {
public:
    virtual ~ReplyClock() = default;
    virtual int64_t nowMs() const;
};

} // namespace Ostrand

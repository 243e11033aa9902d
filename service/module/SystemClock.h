#pragma once
#include <cstdint>

namespace Kest {

// The wall clock the service measures the time since an event by. Tests give
// one of their own so that an hour passes without waiting for it.
class SystemClock {
public:
    virtual ~SystemClock() = default;
    // 100-nanosecond units since 1970-01-01 UTC.
    virtual int64_t now() const;
};

} // namespace Kest

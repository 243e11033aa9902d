#include "OSInfo/ProbeMinorVersion.h"

namespace Halvex {
namespace internal {

uint32_t ProbeMinorVersion(uint32_t limit, const std::function<bool(uint32_t value, BYTE condition)>& predicate)
{
    const uint64_t bound = (static_cast<uint64_t>(limit) + 7) / 8 * 8;
    uint64_t value = 8;
    if (bound >= 8) {
        while (!predicate(static_cast<uint32_t>(value), VER_LESS)) {
            value += 8;
            if (value > bound)
                break;
        }
    }
    if (value > bound)
        return limit;
    value -= 4;
    for (uint32_t step : {2u, 1u}) {
        if (predicate(static_cast<uint32_t>(value), VER_LESS))
            value -= step;
        else
            value += step;
    }
    if (!predicate(static_cast<uint32_t>(value), VER_EQUAL))
        value -= 1;
    return value >= limit ? limit : static_cast<uint32_t>(value);
}

} // namespace internal
} // namespace Halvex

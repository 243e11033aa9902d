#pragma once
// Time-outs at the far end of std::chrono::milliseconds: a deadline made by
// adding one of them to a clock reading, or a wait that turns one into
// nanoseconds, leaves the 64-bit range. Each must mean "wait for ever".
#include <chrono>
#include <ostream>
#include <vector>

namespace TestSupport {

struct HugeTimeout {
    const char* label;
    std::chrono::milliseconds value;
};

// Test names and failure messages show the label, not the bytes.
inline void PrintTo(const HugeTimeout& timeout, std::ostream* out)
{
    *out << timeout.label;
}

inline std::vector<HugeTimeout> hugeTimeouts()
{
    using std::chrono::milliseconds;
    return {
        {"max", milliseconds::max()},
        {"maxLess1", milliseconds::max() - milliseconds(1)},
        {"maxLessTheGraceSecond", milliseconds::max() - milliseconds(1000)},
        {"lastWholeNanoseconds", milliseconds(9223372036854)},
        {"firstPastNanoseconds", milliseconds(9223372036855)},
        {"nineTimesTenTo12", milliseconds(9000000000000)},
        {"tenTo13", milliseconds(10000000000000)},
    };
}

} // namespace TestSupport

#include "performance/PerfTimer.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using Ostrand::internal::InterruptClock;
using Ostrand::internal::PerfTimer;

namespace {

// Hands out the listed readings in order and counts the calls.
class ScriptedClock : public InterruptClock {
public:
    explicit ScriptedClock(std::vector<uint64_t> readings) : m_readings(std::move(readings)) {}
    uint64_t unbiasedInterruptTime() override
    {
        const uint64_t value = m_readings.at(calls < m_readings.size() ? calls : m_readings.size() - 1);
        ++calls;
        return value;
    }
    size_t calls = 0;

private:
    std::vector<uint64_t> m_readings;
};

} // namespace

TEST(PerfTimer, ReadsTheClockOnceAtStartAndOnceAtTheFirstStop)
{
    struct Case {
        const char* what;
        bool stopExplicitly;
        int extraStops;
    };
    const Case cases[] = {
        {"stopped by going out of scope", false, 0},
        {"stopped, then destroyed", true, 0},
        {"stopped three times, then destroyed", true, 2},
    };
    for (const Case& c : cases) {
        auto clock = std::make_shared<ScriptedClock>(std::vector<uint64_t>{10000000, 10250000});
        {
            PerfTimer timer(L"MessageBusLib::MessageBusLib", clock);
            EXPECT_EQ(1u, clock->calls) << c.what;
            if (c.stopExplicitly)
                timer.stop();
            for (int i = 0; i < c.extraStops; ++i)
                timer.stop();
        }
        EXPECT_EQ(2u, clock->calls) << c.what;
    }
}

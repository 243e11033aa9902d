#include "performance/PerfTimer.h"

#include "LogFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using Ostrand::internal::InterruptClock;
using Ostrand::internal::PerfTimer;
using TestSupport::LogFile;
using TestSupport::LogLine;
using TestSupport::LogQuery;

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

TEST(PerfTimer, WritesOneLineInWholeMilliseconds)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    {
        auto clock = std::make_shared<ScriptedClock>(std::vector<uint64_t>{10000000, 10259999});
        PerfTimer timer(L"MessageBusLib::MessageBusLib", clock);
        timer.stop();
    }
    {
        auto still = std::make_shared<ScriptedClock>(std::vector<uint64_t>{123456789});
        PerfTimer timer(L"still", still);
    }

    LogQuery query;
    query.text = L"K7QPerfTimer|";
    const std::vector<LogLine> lines = log.find(query);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"K7QPerfTimer|MessageBusLib::MessageBusLib|1000|1025|25", lines[0].text);
    EXPECT_EQ(L"K7QPerfTimer|still|12345|12345|0", lines[1].text);
    for (const LogLine& line : lines) {
        EXPECT_EQ(LogFile::levelName(1), line.level);
        EXPECT_EQ(L"PerfTimer", line.file);
        EXPECT_EQ(L"Ostrand::internal::PerfTimer::stop", line.function);
    }
}

TEST(PerfTimer, SilentWhenLevelOneIsOff)
{
    LogFile log(2);
    ASSERT_TRUE(log.ready());
    auto clock = std::make_shared<ScriptedClock>(std::vector<uint64_t>{10000000, 20000000});
    {
        PerfTimer timer(L"quiet", clock);
        timer.stop();
    }
    EXPECT_EQ(2u, clock->calls) << "stopped once all the same";
    EXPECT_FALSE(log.contains(1, L"K7QPerfTimer"));
}

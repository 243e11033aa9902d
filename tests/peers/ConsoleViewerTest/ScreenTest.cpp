// The console viewer's account of what it shows: every alert it showed ends
// exactly once, by the user's answer or by being taken down, and only that
// end is reported. A second report would be a second outcome for one alert.
#include "Screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using ConsoleViewer::Screen;
using namespace std::chrono_literals;

namespace {

const Screen::Clock::time_point kStart{};

std::vector<std::wstring> instances(const std::vector<Screen::Ended>& ended)
{
    std::vector<std::wstring> found;
    for (const Screen::Ended& one : ended)
        found.push_back(one.instanceId);
    return found;
}

} // namespace

TEST(ConsoleViewerScreen, EachAlertEndsOnceWhicheverComesFirst)
{
    const struct {
        const char* name;
        bool answeredFirst;  // the user's answer comes before the take-down
    } cases[] = {
        {"the user answers, then the service takes it down", true},
        {"the service takes it down, then its time is up", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Screen screen;
        screen.show(L"2", kStart + 3s, Screen::Outcome::Dismissed);
        if (c.answeredFirst) {
            const std::vector<Screen::Ended> ended = screen.answered(kStart + 3s);
            EXPECT_EQ(std::vector<std::wstring>{L"2"}, instances(ended));
            EXPECT_FALSE(screen.takeDown(L"2")) << "an alert the user already answered is not on screen";
        } else {
            EXPECT_TRUE(screen.takeDown(L"2"));
            EXPECT_TRUE(screen.answered(kStart + 3s).empty()) << "an alert taken down is not answered later";
        }
        EXPECT_FALSE(screen.takeDown(L"2")) << "a second take-down";
        EXPECT_TRUE(screen.answered(kStart + 1h).empty());
    }
}

TEST(ConsoleViewerScreen, AnAlertNeverShownIsNotThereToTakeDown)
{
    Screen screen;
    screen.show(L"1", kStart + 3s, Screen::Outcome::Dismissed);
    EXPECT_FALSE(screen.takeDown(L"7"));
    EXPECT_EQ(std::vector<std::wstring>{L"1"}, instances(screen.answered(kStart + 3s))) << "the other one stays";
}

TEST(ConsoleViewerScreen, AlertsAreAnsweredWhenTheirTimeIsUpWithTheirOwnOutcome)
{
    Screen screen;
    screen.show(L"1", kStart + 3s, Screen::Outcome::Dismissed);
    screen.show(L"2", kStart + 6s, Screen::Outcome::Failed);
    EXPECT_TRUE(screen.answered(kStart + 2s).empty());
    const std::vector<Screen::Ended> first = screen.answered(kStart + 3s);
    ASSERT_EQ(1u, first.size());
    EXPECT_EQ(L"1", first[0].instanceId);
    EXPECT_EQ(Screen::Outcome::Dismissed, first[0].outcome);
    const std::vector<Screen::Ended> second = screen.answered(kStart + 6s);
    ASSERT_EQ(1u, second.size());
    EXPECT_EQ(L"2", second[0].instanceId);
    EXPECT_EQ(Screen::Outcome::Failed, second[0].outcome);
}

#include "QuellatProgramFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using QuellatTests::describe;
using QuellatTests::Lines;
using QuellatTests::QuellatProgram;

namespace {

struct Case {
    std::vector<std::wstring> arguments;
    uint32_t exitCode;
    Lines lines;
};

// No bus library is beside the program: every case that ends with 0 or 2
// ended before it tried to connect, which ends with 3, so nothing was stored.
TEST_F(QuellatProgram, CommandLinesJudgedBeforeAnyConnection)
{
    const std::wstring parseFailed = L"Error: Failed to parse arguments.";
    const std::wstring noCommand = L"Error: Invalid command line arguments.";
    const std::wstring productFlags = L"Error: Invalid command line. The 'pluginPath' and 'pluginFile' flags must "
                                      L"be provided if registering a product.";
    const std::wstring noBus = L"Error: Failed to create message bus connection. Exception caught.";
    const auto tooLong = [](size_t idLength, const std::wstring& prefix, size_t noticeLength) {
        return L"Error: Invalid command line. The id of " + std::to_wstring(idLength) +
               L" characters is too long: the settings notices for " + prefix + L" would have " +
               std::to_wstring(noticeLength) +
               L" UTF-16 code units, and the bus matches none longer than 1024. Nothing is stored.";
    };
    // A character outside the basic plane takes two UTF-16 code units.
    const auto emoji = [](size_t count) {
        std::wstring text;
        for (size_t i = 0; i < count; ++i)
            text += L"\U0001F600";
        return text;
    };
    const std::vector<Case> cases = {
        {{L"-?"}, 0, {}},
        {{L"-?", L"-registerViewer=abc"}, 0, {}},
        {{L"-registerProduct=p", L"/?", L"-unregisterViewer=v"}, 0, {}},
        {{L"-registerViewer=abc", L"-unknown"}, 2, {parseFailed}},
        {{L"-unknown=1", L"-registerViewer=abc"}, 2, {parseFailed}},
        {{L"-?", L"/unknown"}, 2, {parseFailed}},
        {{L"-RegisterViewer=abc"}, 2, {parseFailed}},
        {{L"-"}, 2, {parseFailed}},
        {{L"/=abc"}, 2, {parseFailed}},
        {{}, 2, {noCommand}},
        {{L"registerViewer=abc"}, 2, {noCommand}},
        {{L"-pluginPath=x", L"-pluginFile=y.dll"}, 2, {noCommand}},
        {{L"-registerProduct=p", L"-pluginPath=x"}, 2, {productFlags}},
        {{L"-registerProduct=p", L"-pluginFile=y.dll"}, 2, {productFlags}},
        {{L"-registerProduct=p"}, 2, {productFlags}},
        // registerProduct goes first whatever the order, and it is incomplete.
        {{L"-unregisterViewer=v", L"-pluginFile=y.dll", L"-registerProduct=p"}, 2, {productFlags}},
        // The longest ids whose settings notices the bus still matches (1024
        // characters: "SettingsManager.Notify.Delete." and the key) go on to
        // connect; one more character is refused. A removal always goes on.
        {{L"-registerViewer=" + std::wstring(979, L'v')}, 3, {noBus}},
        {{L"-registerViewer=" + std::wstring(980, L'v')}, 2, {tooLong(980, L"Sentrel/Viewer", 1025)}},
        {{L"-registerProduct=" + std::wstring(978, L'p'), L"-pluginPath=x", L"-pluginFile=y.dll"}, 3, {noBus}},
        {{L"-registerProduct=" + std::wstring(979, L'p'), L"-pluginPath=x", L"-pluginFile=y.dll"},
         2,
         {tooLong(979, L"Sentrel/Product", 1025)}},
        {{L"-registerViewer=" + std::wstring(4000, L'v')}, 2, {tooLong(4000, L"Sentrel/Viewer", 4045)}},
        // The bus counts code units; the id is told in characters.
        {{L"-registerViewer=" + emoji(489) + L"v"}, 3, {noBus}},
        {{L"-registerViewer=" + emoji(490)}, 2, {tooLong(490, L"Sentrel/Viewer", 1025)}},
        {{L"-unregisterViewer=" + std::wstring(980, L'v')}, 3, {noBus}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.exitCode, run(c.arguments)) << describe(c.arguments);
        EXPECT_EQ(c.lines, logged()) << describe(c.arguments);
    }
}

TEST_F(QuellatProgram, EveryCommandNeedsTheBusLibrary)
{
    const Lines noBus = {L"Error: Failed to create message bus connection. Exception caught."};
    const std::vector<std::vector<std::wstring>> commands = {
        {L"-registerProduct=p", L"-pluginPath=x", L"-pluginFile=y.dll"},
        {L"-unregisterProduct=p"},
        {L"-registerViewer=v"},
        {L"-unregisterViewer=v"},
        {L"-registerViewer"},
    };
    for (const std::vector<std::wstring>& arguments : commands) {
        EXPECT_EQ(3U, run(arguments)) << describe(arguments);
        EXPECT_EQ(noBus, logged()) << describe(arguments);
    }
}

} // namespace

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
// ended before it tried to connect, which would have ended with 3.
TEST_F(QuellatProgram, CommandLinesJudgedBeforeAnyConnection)
{
    const std::wstring parseFailed = L"Error: Failed to parse arguments.";
    const std::wstring noCommand = L"Error: Invalid command line arguments.";
    const std::wstring productFlags = L"Error: Invalid command line. The 'pluginPath' and 'pluginFile' flags must "
                                      L"be provided if registering a product.";
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

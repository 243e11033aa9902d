#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "TestNames.h"
#include "ToolLogFolder.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::wstring>;

// The program in a folder of its own, with libraries planted beside it under
// system libraries' names: the program binds such libraries only after it
// restricted the search to the system folder, so a planted one must never load.
class QuellatProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(QUELLAT_PATH).c_str(), program.c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(PLANTED_ADVAPI32_PATH).c_str(),
                              root.file(L"advapi32.dll").c_str(), FALSE));
        ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(PLANTED_VERSION_PATH).c_str(),
                              root.file(L"version.dll").c_str(), FALSE));
        SetEnvironmentVariableW(L"PLANTED_LIBRARY_MARKER", marker.c_str());
        ASSERT_TRUE(log.ready());
    }

    void TearDown() override { EXPECT_EQ("", TestSupport::ScratchFolder::read(marker)) << "a planted library loaded"; }

    // Runs the program; its exit code. It never writes to the console.
    uint32_t run(const std::vector<std::wstring>& arguments) const
    {
        const TestSupport::ChildProcessResult result = TestSupport::runChildProcess(program, arguments);
        EXPECT_TRUE(result.finished);
        EXPECT_EQ("", result.output);
        return result.exitCode;
    }

    // The program's own log lines since the last call, as "<level>: <text>".
    Lines logged() const
    {
        Lines texts;
        for (const TestSupport::LogLine& line : log.lines()) {
            if (line.file != L"Quellat")
                continue;
            EXPECT_EQ(L"wmain", line.function);
            EXPECT_EQ(L"Quellat.exe", line.executable);
            texts.push_back(line.level + L": " + line.text);
        }
        log.clear();
        return texts;
    }

    TestSupport::ScratchFolder root;
    const std::wstring program = root.file(L"Quellat.exe");
    const std::wstring marker = root.file(L"planted.marker");
    ToolLogFolder log{L"Quellat"};
};

struct Case {
    std::vector<std::wstring> arguments;
    uint32_t exitCode;
    Lines lines;
};

std::string describe(const std::vector<std::wstring>& arguments)
{
    std::wstring text;
    for (const std::wstring& argument : arguments)
        text += L"[" + argument + L"] ";
    return TestSupport::narrow(text);
}

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

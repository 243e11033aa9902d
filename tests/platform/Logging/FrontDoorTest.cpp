#include "FakeLoggers.h"

#include "FileSystem/FileSystem.h"
#include "Logging/CLogger.h"
#include "Logging/Log.h"

#include "LogFile.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cwchar>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace ETWLogging;
using TestSupport::LogFile;
using TestSupport::LogQuery;

// Every case runs in a process of its own: the logger is made once per process.

namespace {

std::wstring logRoot()
{
    return LogFile::programDataFolder() + L"\\Corvane\\CVLOGS\\";
}

std::wstring programStem()
{
    return LogFile::programStem();
}

std::wstring fileText(const std::wstring& path)
{
    return LogFile::readText(path);
}

// Removes a log folder of the test's own when the test ends.
struct FolderCleanup {
    std::wstring path;
    ~FolderCleanup() { Halvex::RemoveDirectoryTree(path.c_str()); }
};

} // namespace

TEST(FrontDoorTest, WideArgumentsAppearAtEveryLevel)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    for (uint32_t level = 1; level <= 6; ++level)
        ETW_LOG(level, L"FrontDoorTest", L"Ns::FrontDoor::run", L"Level %lu: %s and %ls and %hs.",
                static_cast<unsigned long>(level), L"wide", L"also wide", "narrow");
    for (uint32_t level = 1; level <= 6; ++level) {
        LogQuery query;
        query.level = level;
        query.file = L"FrontDoorTest";
        query.function = L"Ns::FrontDoor::run";
        query.text = L"Level " + std::to_wstring(level) + L": wide and also wide and narrow.";
        const auto found = log.find(query);
        ASSERT_EQ(found.size(), 1u) << level;
        EXPECT_EQ(found[0].text, query.text);
        EXPECT_EQ(found[0].threadId, GetCurrentThreadId());
    }
}

TEST(FrontDoorTest, CallSitesTestTheLevelButPlatformMessagesAlwaysArrive)
{
    LogFile log(3);
    ASSERT_TRUE(log.ready());
    EXPECT_FALSE(IsLogEnabled(LOG_LEVEL_NORMAL));
    EXPECT_FALSE(IsLogEnabled(LOG_LEVEL_WARNING));
    EXPECT_TRUE(IsLogEnabled(LOG_LEVEL_INFORMATION));
    ETW_LOG(LOG_LEVEL_NORMAL, L"FrontDoorTest", L"f", L"Filtered out.");
    ETW_LOG(LOG_LEVEL_ERROR, L"FrontDoorTest", L"f", L"Kept.");
    EXPECT_TRUE(log.contains(LOG_LEVEL_ERROR, L"Kept."));
    EXPECT_FALSE(log.contains(0, L"Filtered out."));

    struct Case {
        uint32_t type;
        const wchar_t* level;
    } cases[] = {{0, L"Normal"}, {1, L"Normal"}, {2, L"Error"}, {3, L"Warning"}};
    for (const Case& c : cases)
        Halvex::CLogger::Log(c.type, L"Logging\\internal_logging", L"Halvex::Thing::run", 17, L"Platform type %lu %s.",
                             static_cast<unsigned long>(c.type), L"message");
    for (const Case& c : cases) {
        LogQuery query;
        query.text = L"Platform type " + std::to_wstring(c.type) + L" message.";
        const auto found = log.find(query);
        ASSERT_EQ(found.size(), 1u) << c.type;
        EXPECT_EQ(found[0].level, c.level);
        EXPECT_EQ(found[0].file, L"internal_logging");
        EXPECT_EQ(found[0].function, L"Halvex::Thing::run");
        EXPECT_EQ(found[0].line, 17);
    }
}

TEST(FrontDoorTest, IdentityIsFixedAtTheFirstLogCall)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    const std::wstring late = TestSupport::uniqueName(L"Late");
    SetLogIdentity(nullptr, late.c_str(), nullptr, nullptr, 1);
    ETW_LOG(LOG_LEVEL_ERROR, L"FrontDoorTest", L"f", L"Still here.");
    EXPECT_TRUE(log.contains(LOG_LEVEL_ERROR, L"Still here."));
    EXPECT_FALSE(Halvex::DirectoryExists((logRoot() + late).c_str()));
}

TEST(FrontDoorTest, EmptyNamesKeepTheDefaultGroupAndHost)
{
    // Shared with other processes of this program: look for this process's own text.
    SetLogIdentity(L"", L"", nullptr, L"", 1);
    const std::wstring text = L"Default identity " + TestSupport::uniqueName();
    ETW_LOG(LOG_LEVEL_ERROR, L"FrontDoorTest", L"f", L"%s", text.c_str());
    const std::wstring stem = programStem();
    const std::wstring folder = logRoot() + L"_no_group\\" + stem + L"\\";
    EXPECT_TRUE(Halvex::FileExists((folder + stem + L"__no_host000.log").c_str()));
    bool found = false;
    for (const wchar_t* index : {L"000", L"001", L"002"})
        found = found || fileText(folder + stem + L"__no_host" + index + L".log").find(text) != std::wstring::npos;
    EXPECT_TRUE(found);
}

TEST(FrontDoorTest, ModuleHandleNamesTheFilesAndNoHostAddsNothing)
{
    const std::wstring group = TestSupport::uniqueName(L"Mod");
    FolderCleanup cleanup{logRoot() + group};
    SetLogIdentity(nullptr, group.c_str(), GetModuleHandleW(L"kernel32.dll"), nullptr, 1);
    ETW_LOG(LOG_LEVEL_ERROR, L"FrontDoorTest", L"f", L"Module line.");
    const std::wstring text = fileText(logRoot() + group + L"\\kernel32\\kernel32000.log");
    EXPECT_NE(text.find(L"Module line.\r\n"), std::wstring::npos);
}

TEST(FrontDoorTest, IdentityStringsAreCopiedAndSetSafelyFromThreads)
{
    const std::wstring groups[] = {TestSupport::uniqueName(L"A"), TestSupport::uniqueName(L"B")};
    FolderCleanup cleanupA{logRoot() + groups[0]}, cleanupB{logRoot() + groups[1]};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                // The caller's buffer is gone or reused after the call.
                std::wstring buffer = groups[(t + i) % 2];
                SetLogIdentity(nullptr, buffer.c_str(), nullptr, nullptr, 1);
                buffer.assign(buffer.size(), L'X');
            }
        });
    for (auto& t : threads)
        t.join();
    ETW_LOG(LOG_LEVEL_ERROR, L"FrontDoorTest", L"f", L"After the race.");
    const std::wstring stem = programStem();
    int found = 0;
    for (const std::wstring& group : groups)
        if (fileText(logRoot() + group + L"\\" + stem + L"\\" + stem + L"000.log").find(L"After the race.") !=
            std::wstring::npos)
            ++found;
    EXPECT_EQ(found, 1);
}

TEST(FrontDoorTest, ThreadsThroughTheFrontDoorNeitherInterleaveNorLose)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    const int threads = 6, perThread = 100;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([t] {
            for (int i = 0; i < perThread; ++i)
                ETW_LOG(LOG_LEVEL_WARNING, L"FrontDoorTest", L"worker", L"Thread %d line %d %s.", t, i,
                        std::wstring(120, static_cast<wchar_t>(L'a' + t)).c_str());
        });
    for (auto& w : workers)
        w.join();
    LogQuery query;
    query.function = L"worker";
    const auto lines = log.find(query);
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    std::vector<int> next(threads, 0);
    for (const auto& line : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(swscanf(line.text.c_str(), L"Thread %d line %d", &t, &i), 2) << TestSupport::narrow(line.text);
        ASSERT_TRUE(t >= 0 && t < threads);
        EXPECT_EQ(i, next[t]++);
        EXPECT_EQ(line.text, L"Thread " + std::to_wstring(t) + L" line " + std::to_wstring(i) + L" " +
                                 std::wstring(120, static_cast<wchar_t>(L'a' + t)) + L".");
    }
}

namespace {

std::shared_ptr<LoggingTestDoubles::FakeBuilder> installBuilder()
{
    auto builder = std::make_shared<LoggingTestDoubles::FakeBuilder>();
    internal::SetLogBuilder(builder);
    return builder;
}

} // namespace

TEST(FrontDoorTest, CreationIsRetriedAfterItThrew)
{
    auto builder = installBuilder();
    auto* logger = new LoggingTestDoubles::PlainLogger();
    builder->next = logger;
    builder->throwsLeft = 1;
    EXPECT_THROW(IsLogEnabled(LOG_LEVEL_ERROR), std::runtime_error);
    EXPECT_EQ(internal::PublishedHolder(), nullptr);
    EXPECT_TRUE(IsLogEnabled(LOG_LEVEL_ERROR));
    EXPECT_EQ(builder->buildExCalls, 2);
    EXPECT_EQ(Log(LOG_LEVEL_ERROR, L"F", L"f", 1, L"after %d", 2), 0u);
    ASSERT_EQ(logger->writes.size(), 1u);
    EXPECT_EQ(logger->writes[0].text, L"after 2");
    // Made once: later calls do not build again.
    IsLogEnabled(LOG_LEVEL_ERROR);
    EXPECT_EQ(builder->buildExCalls, 2);
}

TEST(FrontDoorTest, NoLoggerWhenBuildingFails)
{
    auto builder = installBuilder();
    builder->buildExSucceeds = false;
    builder->buildSucceeds = false;
    EXPECT_FALSE(IsLogEnabled(LOG_LEVEL_CRITICAL));
    EXPECT_EQ(Log(LOG_LEVEL_CRITICAL, L"F", L"f", 1, L"x"), static_cast<uint32_t>(ERROR_FUNCTION_FAILED));
    EXPECT_EQ(builder->buildExCalls, 1);
    EXPECT_EQ(builder->buildCalls, 1);
}

TEST(FrontDoorTest, LoggingWhileTheLoggerIsMadeDoesNotWaitForItself)
{
    auto builder = installBuilder();
    builder->next = new LoggingTestDoubles::PlainLogger();
    builder->onBuild = [] { ETW_LOG(LOG_LEVEL_ERROR, L"F", L"f", L"From inside."); };
    EXPECT_TRUE(IsLogEnabled(LOG_LEVEL_ERROR));
    auto* logger = static_cast<LoggingTestDoubles::PlainLogger*>(GetLogger()->Logger());
    EXPECT_TRUE(logger->writes.empty());
}

TEST(FrontDoorTest, SystemErrorTextsKeepTheirInsertsAndReachTheLogAsWritten)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    // Texts with inserts ("%1") are taken as they stand, never filled from
    // arguments that were not given.
    int withInserts = 0;
    for (uint32_t code = 1; code < 16000; ++code) {
        const std::wstring text = Halvex::CLogger::GetErrorText(code);
        if (text.find(L"%1") == std::wstring::npos)
            continue;
        if (++withInserts > 3)
            break;
        ETW_LOG(LOG_LEVEL_ERROR, L"FrontDoorTest", L"f", L"Code %lu: %s", static_cast<unsigned long>(code),
                text.c_str());
        Halvex::CLogger::Log(Halvex::LOG_TYPE_ERROR, L"Src", L"g", 1, L"Bridged %lu: %s",
                             static_cast<unsigned long>(code), text.c_str());
        std::wstring expected = text;
        while (!expected.empty() && (expected.back() == L'\n' || expected.back() == L'\r'))
            expected.pop_back();
        EXPECT_TRUE(log.contains(LOG_LEVEL_ERROR, L"Code " + std::to_wstring(code) + L": " + expected)) << code;
        EXPECT_TRUE(log.contains(LOG_LEVEL_ERROR, L"Bridged " + std::to_wstring(code) + L": " + expected)) << code;
    }
    EXPECT_GT(withInserts, 0);
}

#include "FakeLoggers.h"

#include "Logging/CHalvexLogHandler.h"
#include "Logging/CLogger.h"
#include "Logging/CLoggerHolder.h"

#include "PlatformLogRecorder.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ETWLogging;
using namespace LoggingTestDoubles;

namespace {

struct Made {
    std::shared_ptr<FakeBuilder> builder = std::make_shared<FakeBuilder>();
    std::unique_ptr<CLoggerHolder> holder;
};

template <typename Logger>
Made makeHolder(Logger*& logger, bool buildEx = true, bool build = true)
{
    Made made;
    logger = new Logger();
    made.builder->next = logger;
    made.builder->buildExSucceeds = buildEx;
    made.builder->buildSucceeds = build;
    made.holder = std::make_unique<CLoggerHolder>(made.builder);
    made.holder->Create(L"app", L"grp", nullptr, nullptr, 0);
    return made;
}

} // namespace

TEST(LoggerHolderTest, BuildIsTriedWhenBuildExFails)
{
    struct Case {
        bool buildEx, build;
        int buildCalls;
        bool logger;
    } cases[] = {{true, true, 0, true}, {false, true, 1, true}, {false, false, 1, false}};
    for (const Case& c : cases) {
        PlainLogger* logger = nullptr;
        Made made = makeHolder(logger, c.buildEx, c.build);
        EXPECT_EQ(made.builder->buildExCalls, 1);
        EXPECT_EQ(made.builder->buildCalls, c.buildCalls);
        EXPECT_EQ(made.holder->Logger() != nullptr, c.logger);
        if (!c.logger) {
            delete logger;
            EXPECT_EQ(made.holder->Log(4, L"F", L"f", 1, L"x"), static_cast<uint32_t>(ERROR_FUNCTION_FAILED));
            EXPECT_EQ(made.holder->LogText(L"F", L"f", 1, 4, L"x"), static_cast<uint32_t>(ERROR_FUNCTION_FAILED));
        }
    }
}

TEST(LoggerHolderTest, PlainLoggerGetsFinishedTextWithoutLevelTest)
{
    PlainLogger* logger = nullptr;
    Made made = makeHolder(logger);
    logger->severity = 5;
    EXPECT_EQ(made.holder->Log(1, L"Src", L"Ns::f", 42, L"%s has %d and %hs.", L"wide", 7, "narrow"), 0u);
    ASSERT_EQ(logger->writes.size(), 1u);
    EXPECT_EQ(logger->writes[0].level, 1u);
    EXPECT_EQ(logger->writes[0].file, L"Src");
    EXPECT_EQ(logger->writes[0].function, L"Ns::f");
    EXPECT_EQ(logger->writes[0].line, 42);
    EXPECT_EQ(logger->writes[0].text, L"wide has 7 and narrow.");

    // Texts longer than the formatting entry points' buffer pass whole.
    const std::wstring longText(6000, L'z');
    made.holder->Log(3, L"Src", L"f", 1, L"%s", longText.c_str());
    EXPECT_EQ(logger->writes.back().text, longText);

    logger->writeResult = ERROR_DISK_FULL;
    EXPECT_EQ(made.holder->Log(3, L"Src", L"f", 1, L"x"), static_cast<uint32_t>(ERROR_DISK_FULL));
    EXPECT_EQ(made.holder->LogText(L"Src", L"f", 1, 2, L"bridged"), static_cast<uint32_t>(ERROR_DISK_FULL));
    EXPECT_EQ(logger->writes.back().text, L"bridged");
    EXPECT_EQ(logger->writes.back().level, 2u);
}

TEST(LoggerHolderTest, NotReadyLoggerDropsTheMessageAndReportsWhy)
{
    PlainLogger* logger = nullptr;
    Made made = makeHolder(logger);
    logger->registerResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(made.holder->Log(4, L"Src", L"f", 1, L"x"), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(made.holder->LogText(L"Src", L"f", 1, 4, L"x"), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(logger->writes.empty());
}

TEST(LoggerHolderTest, ExtendedLoggerFormatsItselfAfterItsLevelTest)
{
    ExtendedLogger* logger = nullptr;
    Made made = makeHolder(logger);
    logger->severity = 4;
    EXPECT_EQ(made.holder->Log(2, L"Src", L"f", 1, L"dropped"), 0u);
    EXPECT_EQ(made.holder->Log(4, L"Src", L"f", 9, L"kept %d", 5), 0u);
    ASSERT_EQ(logger->formatted.size(), 1u);
    EXPECT_EQ(logger->formatted[0].level, 4u);
    EXPECT_EQ(logger->formatted[0].line, 9);
    EXPECT_EQ(logger->formatted[0].text, L"kept 5");
    EXPECT_TRUE(logger->writes.empty());

    // The bridge's finished texts go to WriteString, whatever the level.
    EXPECT_EQ(made.holder->LogText(L"Src", L"f", 3, 1, L"bridged"), 0u);
    ASSERT_EQ(logger->strings.size(), 1u);
    EXPECT_EQ(logger->strings[0].text, L"bridged");
    EXPECT_EQ(logger->strings[0].level, 1u);
    EXPECT_EQ(made.builder->lastApp, L"app");
}

TEST(LoggerHolderTest, BridgeIsRegisteredWithTheCoreAndRemovedWithTheHolder)
{
    PlainLogger* logger = nullptr;
    Made made = makeHolder(logger);
    EXPECT_EQ(Halvex::CLogger::RegisteredHandler(), GetHalvexLogHandler());
    EXPECT_EQ(made.holder->Bridge(), GetHalvexLogHandler());
    made.holder.reset();
    EXPECT_EQ(Halvex::CLogger::RegisteredHandler(), nullptr);
}

TEST(LoggerHolderTest, RefusedBridgeIsNotStored)
{
    TestSupport::PlatformLogRecorder other;
    PlainLogger* logger = nullptr;
    Made made = makeHolder(logger);
    EXPECT_NE(made.holder->Logger(), nullptr);
    EXPECT_EQ(made.holder->Bridge(), nullptr);
    EXPECT_EQ(Halvex::CLogger::RegisteredHandler(), &other);
    made.holder.reset();
    EXPECT_EQ(Halvex::CLogger::RegisteredHandler(), &other);
}

TEST(LoggerHolderTest, BridgeMapsPlatformTypesToLevels)
{
    struct Case {
        uint32_t type, level;
    } cases[] = {{0, 1}, {1, 1}, {2, 4}, {3, 2}, {77, 2}};
    for (const Case& c : cases)
        EXPECT_EQ(CHalvexLogHandler::MapType(c.type), c.level) << c.type;
}

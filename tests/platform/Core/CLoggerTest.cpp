#include "Logging/CLogger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Halvex;

namespace {

struct Recorded {
    uint32_t type;
    std::wstring file, function;
    int32_t line;
    std::wstring message;
};

class RecordingHandler : public ILoggingHandler {
public:
    uint32_t Log(uint32_t type, const wchar_t* file, const wchar_t* function, int32_t line,
                 const wchar_t* message) override
    {
        seen.push_back({type, file, function, line, message});
        return 0;
    }
    std::vector<Recorded> seen;
};

std::wstring addressText(const void* p)
{
    wchar_t buffer[16];
    swprintf(buffer, 16, L"0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(p) & 0xFFFFFFFFu));
    return buffer;
}

// Every test runs in a process of its own, but leaves the logger as it found it.
class CLoggerTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (ILoggingHandler* h = CLogger::RegisteredHandler())
            CLogger::UnregisterHandler(h);
    }
};

} // namespace

TEST_F(CLoggerTest, FirstMessageRegistersTheDefaultHandler)
{
    ASSERT_EQ(CLogger::RegisteredHandler(), nullptr);
    EXPECT_EQ(CLogger::Log(LOG_TYPE_INFO, L"f.cpp", L"Ns::fn", 3, L"hello %s", L"there"), 0u);
    EXPECT_EQ(CLogger::RegisteredHandler(), &CDefaultLoggingHandler::Instance());
}

TEST_F(CLoggerTest, DefaultHandlerLines)
{
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(0, L"f", L"fn", 1, L"m"), L"");
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(1, L"a\\b.cpp", L"Ns::fn", 12, L"text"),
              L"a\\b.cpp(12): [INFO]: [Ns::fn]: text\n");
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(2, L"f", L"fn", -1, L"x"), L"f(-1): [ERROR]: [fn]: x\n");
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(3, L"f", L"fn", 0, L"x"), L"f(0): [UNKNOWN]: [fn]: x\n");
    EXPECT_EQ(CDefaultLoggingHandler::FormatLine(2, nullptr, nullptr, 0, nullptr), L"(0): [ERROR]: []: \n");
}

TEST_F(CLoggerTest, MessagesReachTheRegisteredHandlerFormatted)
{
    RecordingHandler handler;
    ASSERT_EQ(CLogger::RegisterHandler(&handler), 0u);
    CLogger::Log(LOG_TYPE_ERROR, L"file.cpp", L"Ns::Cls::fn", 77, L"%s=%hs %lu", L"wide", "narrow", 5ul);
    ASSERT_EQ(handler.seen.size(), 1u);
    EXPECT_EQ(handler.seen[0].type, 2u);
    EXPECT_EQ(handler.seen[0].file, L"file.cpp");
    EXPECT_EQ(handler.seen[0].function, L"Ns::Cls::fn");
    EXPECT_EQ(handler.seen[0].line, 77);
    EXPECT_EQ(handler.seen[0].message, L"wide=narrow 5");
}

TEST_F(CLoggerTest, RegisterOverDefaultAndSameHandlerIsSilent)
{
    CLogger::Log(LOG_TYPE_SILENT, L"f", L"fn", 1, L"first");
    RecordingHandler bridge;
    EXPECT_EQ(CLogger::RegisterHandler(&bridge), 0u);
    EXPECT_EQ(CLogger::RegisterHandler(&bridge), 0u);
    EXPECT_TRUE(bridge.seen.empty());
    EXPECT_EQ(CLogger::RegisteredHandler(), &bridge);
}

TEST_F(CLoggerTest, SecondHandlerIsRefusedWithOneMessageToTheFirst)
{
    RecordingHandler bridge, other;
    ASSERT_EQ(CLogger::RegisterHandler(&bridge), 0u);
    EXPECT_EQ(CLogger::RegisterHandler(&other), 5023u);
    EXPECT_EQ(CLogger::RegisteredHandler(), &bridge);
    ASSERT_EQ(bridge.seen.size(), 1u);
    EXPECT_TRUE(other.seen.empty());
    const Recorded& r = bridge.seen[0];
    EXPECT_EQ(r.type, 2u);
    EXPECT_EQ(r.file, L"Logging\\internal_logging");
    EXPECT_EQ(r.function, L"Halvex::CLogger::RegisterHandler");
    EXPECT_EQ(r.line, 72);
    const std::wstring tail = L": Registered Logging Handler " + addressText(&bridge) + L" cannot be replaced with " +
                              addressText(&other);
    EXPECT_EQ(r.message, CLogger::GetErrorText(5023) + tail);
}

TEST_F(CLoggerTest, NullHandlersAreRefusedWith87)
{
    RecordingHandler bridge;
    ASSERT_EQ(CLogger::RegisterHandler(&bridge), 0u);
    EXPECT_EQ(CLogger::RegisterHandler(nullptr), 87u);
    EXPECT_EQ(CLogger::UnregisterHandler(nullptr), 87u);
    ASSERT_EQ(bridge.seen.size(), 2u);
    EXPECT_EQ(bridge.seen[0].line, 62);
    EXPECT_EQ(bridge.seen[0].message, CLogger::GetErrorText(87) + L": Cannot Register (NULL) handler");
    EXPECT_EQ(bridge.seen[1].line, 97);
    EXPECT_EQ(bridge.seen[1].function, L"Halvex::CLogger::UnregisterHandler");
    EXPECT_EQ(bridge.seen[1].message, CLogger::GetErrorText(87) + L": Cannot Unregister (NULL) handler");
    EXPECT_EQ(CLogger::RegisteredHandler(), &bridge);
}

TEST_F(CLoggerTest, UnregisterWhenNoneIsRegisteredTellsTheAsker)
{
    RecordingHandler asker;
    EXPECT_EQ(CLogger::UnregisterHandler(&asker), 5023u);
    EXPECT_EQ(CLogger::RegisteredHandler(), nullptr);
    ASSERT_EQ(asker.seen.size(), 1u);
    EXPECT_EQ(asker.seen[0].line, 107);
    EXPECT_EQ(asker.seen[0].message, CLogger::GetErrorText(5023) + L": Request to Unregister Logging handler " +
                                         addressText(&asker) + L", but none are registered");
}

TEST_F(CLoggerTest, UnregisterOfAnotherHandlerTellsBothAndKeepsTheRegistered)
{
    RecordingHandler registered, asker;
    ASSERT_EQ(CLogger::RegisterHandler(&registered), 0u);
    EXPECT_EQ(CLogger::UnregisterHandler(&asker), 5023u);
    EXPECT_EQ(CLogger::RegisteredHandler(), &registered);
    ASSERT_EQ(registered.seen.size(), 1u);
    ASSERT_EQ(asker.seen.size(), 1u);
    const std::wstring expected = CLogger::GetErrorText(5023) +
                                  L": Failed to Unregister Logging handler (requested handler " +
                                  addressText(&asker) + L" != registered handler " + addressText(&registered) + L")";
    EXPECT_EQ(registered.seen[0].message, expected);
    EXPECT_EQ(registered.seen[0].line, 115);
    EXPECT_EQ(asker.seen[0].message, expected);
    EXPECT_EQ(asker.seen[0].line, 120);
    EXPECT_EQ(CLogger::UnregisterHandler(&registered), 0u);
    EXPECT_EQ(CLogger::RegisteredHandler(), nullptr);
}

TEST_F(CLoggerTest, ErrorTextIsTheSystemsMessage)
{
    EXPECT_EQ(CLogger::GetErrorText(0xFFFFFFF0u), L"");
    // The system ends its texts with a line break; a "%s: ..." message built
    // on one must stay one line.
    for (uint32_t code : {2u, 5u, 87u}) {
        const std::wstring text = CLogger::GetErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_NE(text.back(), L'\n') << code;
        EXPECT_NE(text.back(), L'\r') << code;
        EXPECT_EQ(text.find(L'\n'), std::wstring::npos) << code;
    }
}

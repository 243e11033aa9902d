#include "ETWLogging/CETWLogging.h"
#include "ETWLogging/CEventPayload.h"
#include "ETWLogging/ModuleVersionInfo.h"
#include "Logging/CDefaultLogBuilder.h"

#include "AppRecord.h"
#include "RecordingTraceApi.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace ETWLogging;
using EtwTestDoubles::AppRecord;
using EtwTestDoubles::RecordingTraceApi;

namespace {

std::wstring programName()
{
    wchar_t buffer[1024] = {};
    GetModuleFileNameW(nullptr, buffer, 1023);
    std::wstring name = buffer;
    return name.substr(name.rfind(L'\\') + 1);
}

struct Fixture {
    std::shared_ptr<RecordingTraceApi> api = std::make_shared<RecordingTraceApi>();
    std::unique_ptr<CETWLogging> logger = std::make_unique<CETWLogging>(api);
};

// A logger over a record of the test's own, enabled by a session at `level`.
class EnabledLogger : public ::testing::Test {
protected:
    void start(UCHAR level, const wchar_t* group = L"Grp")
    {
        m_record.writeComplete();
        ASSERT_EQ(f.logger->InitEx(m_record.app().c_str(), group, GetModuleHandleW(L"kernel32.dll"), nullptr,
                                   nullptr),
                  0u);
        ASSERT_EQ(f.logger->Register(), 0u);
        f.api->levels[m_session] = level;
        ASSERT_EQ(f.api->control(WMI_ENABLE_EVENTS, &m_session), 0u);
    }

    AppRecord m_record;
    Fixture f;
    TRACEHANDLE m_session = 0x77;
};

} // namespace

TEST(ETWLoggerTest, DefaultRecordRegistersTheProviderOnTheFirstWrite)
{
    Fixture f;
    ASSERT_EQ(f.logger->InitEx(nullptr, L"Grp", nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(f.api->registerCalls, 0);
    EXPECT_EQ(f.logger->Write(L"Src", L"f", 1, 4, L"first"), 0u);
    EXPECT_EQ(f.logger->Register(), 0u);
    EXPECT_EQ(f.logger->Register(), 0u);
    EXPECT_EQ(f.api->registerCalls, 1);
    const GUID provider = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
    EXPECT_TRUE(IsEqualGUID(f.api->providerGuid, provider));
    EXPECT_TRUE(IsEqualGUID(f.api->eventClassGuid, kEventClassGuid));
    EXPECT_EQ(f.api->registeredGuidCount, 1u);
    EXPECT_EQ(f.api->context, f.logger.get());
    // Registered: a second initialisation is refused; Uninit unregisters once.
    EXPECT_EQ(f.logger->InitEx(nullptr, L"Grp", nullptr, nullptr, nullptr), LOG_STATUS_ALREADY_INITIALIZED);
    EXPECT_EQ(f.logger->Uninit(), 0u);
    EXPECT_EQ(f.logger->Uninit(), 0u);
    ASSERT_EQ(f.api->unregistered.size(), 1u);
    EXPECT_EQ(f.api->unregistered[0], 0x1234u);
    EXPECT_FALSE(f.logger->IsEnabled());
}

TEST(ETWLoggerTest, NamesAndRefusedArguments)
{
    Fixture f;
    EXPECT_EQ(f.logger->InitEx(nullptr, L"", nullptr, nullptr, nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(f.logger->InitEx(nullptr, L"G", nullptr, L"", nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    ASSERT_EQ(f.logger->InitEx(nullptr, L"Grp", GetModuleHandleW(L"kernel32.dll"), nullptr, nullptr), 0u);
    EXPECT_EQ(f.logger->QualifiedName(), L"Grp\\kernel32");
    EXPECT_EQ(f.logger->ExecutableName(), programName());
    wchar_t* name = nullptr;
    f.logger->GetQualifiedName(&name);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, L"Grp\\kernel32");
    delete[] name;
    f.logger->GetGroupName(&name);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, L"Grp");
    delete[] name;

    CLoggingIf* out = nullptr;
    EXPECT_FALSE(CreateETWLogger(nullptr, L"", nullptr, nullptr, &out));
    EXPECT_FALSE(CreateETWLogger(TestSupport::uniqueName(L"NoRecord").c_str(), L"G", nullptr, nullptr, &out));
    EXPECT_EQ(out, nullptr);
    ASSERT_TRUE(CreateETWLogger(nullptr, L"G", nullptr, nullptr, &out));
    EXPECT_NE(dynamic_cast<CETWLogging*>(out), nullptr);
    EXPECT_FALSE(CreateETWLogger(nullptr, L"G", nullptr, nullptr, &out));
    delete out;
}

TEST(ETWLoggerTest, FailedRegistrationDropsOnlyTheFirstMessage)
{
    Fixture f;
    f.api->registerResult = ERROR_ACCESS_DENIED;
    ASSERT_EQ(f.logger->InitEx(nullptr, L"Grp", nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(f.logger->Register(), static_cast<uint32_t>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(f.logger->Register(), 0u);
    EXPECT_EQ(f.logger->Uninit(), 0u);
    EXPECT_TRUE(f.api->unregistered.empty());
}

TEST_F(EnabledLogger, SessionLevelDecidesWithInformationAlwaysPassing)
{
    start(4);
    EXPECT_EQ(f.logger->GetSeverity(), 4u);
    EXPECT_EQ(f.logger->TraceHandle(), m_session);
    struct Case {
        uint32_t level;
        bool passes;
    } cases[] = {{1, false}, {2, false}, {3, true}, {4, true}, {5, true}, {6, true}};
    for (const Case& c : cases) {
        EXPECT_EQ(f.logger->IsLevelEnabled(c.level), c.passes) << c.level;
        const size_t before = f.api->events.size();
        EXPECT_EQ(f.logger->LogEx(c.level, L"Src", L"f", 1, L"level %lu", static_cast<unsigned long>(c.level)), 0u);
        EXPECT_EQ(f.api->events.size() - before, c.passes ? 1u : 0u) << c.level;
    }
    for (const auto& event : f.api->events)
        EXPECT_EQ(event.handle, m_session);
}

TEST_F(EnabledLogger, RegistryPinsLevelsPerProviderGroupAndModule)
{
    m_record.setProviderValue(L"", L"Severity", 1);
    start(4);
    EXPECT_EQ(f.logger->GetSeverity(), 1u);
    for (uint32_t level = 1; level <= 6; ++level)
        EXPECT_TRUE(f.logger->IsLevelEnabled(level)) << level;

    // The group's key overrides the provider's, the module's the group's.
    m_record.setProviderValue(L"Grp", L"Severity", 5);
    m_record.setProviderValue(L"Grp\\kernel32", L"Enable", 0);
    ASSERT_EQ(f.api->control(WMI_ENABLE_EVENTS, &m_session), 0u);
    EXPECT_EQ(f.logger->GetSeverity(), 5u);
    EXPECT_FALSE(f.logger->IsEnabled());
    const size_t before = f.api->events.size();
    f.logger->LogEx(5, L"Src", L"f", 1, L"disabled");
    EXPECT_EQ(f.api->events.size(), before);
}

TEST_F(EnabledLogger, OnlyTheFirstSessionCountsUntilItDisables)
{
    start(4);
    TRACEHANDLE other = 0x99;
    f.api->levels[other] = 1;
    EXPECT_EQ(f.api->control(WMI_ENABLE_EVENTS, &other), 0u);
    EXPECT_EQ(f.logger->GetSeverity(), 4u);
    EXPECT_EQ(f.logger->TraceHandle(), m_session);

    // A disable from the other session turns events off but keeps the handle.
    EXPECT_EQ(f.api->control(WMI_DISABLE_EVENTS, &other), 0u);
    EXPECT_FALSE(f.logger->IsEnabled());
    EXPECT_EQ(f.logger->TraceHandle(), m_session);
    EXPECT_EQ(f.api->control(WMI_DISABLE_EVENTS, &m_session), 0u);
    EXPECT_EQ(f.logger->TraceHandle(), 0u);

    // Now another session may enable it.
    EXPECT_EQ(f.api->control(WMI_ENABLE_EVENTS, &other), 0u);
    EXPECT_TRUE(f.logger->IsEnabled());
    EXPECT_EQ(f.logger->GetSeverity(), 1u);
    EXPECT_EQ(f.logger->TraceHandle(), other);
}

TEST_F(EnabledLogger, BadRequestsChangeNothing)
{
    start(4);
    f.api->control(WMI_DISABLE_EVENTS, &m_session);
    ASSERT_EQ(f.logger->TraceHandle(), 0u);
    const uint32_t severity = f.logger->GetSeverity();
    const bool enabled = f.logger->IsEnabled();

    // A session whose level cannot be read is not kept.
    TRACEHANDLE noLevel = 0x42;
    EXPECT_EQ(f.api->control(WMI_ENABLE_EVENTS, &noLevel), static_cast<ULONG>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(f.logger->TraceHandle(), 0u);
    EXPECT_EQ(f.api->control(WMI_ENABLE_EVENTS, nullptr), static_cast<ULONG>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(f.api->control(WMI_GET_ALL_DATA, &m_session), static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(CETWLogging::ControlCallback(WMI_ENABLE_EVENTS, nullptr, nullptr, &m_session),
              static_cast<ULONG>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(f.logger->TraceHandle(), 0u);
    EXPECT_EQ(f.logger->GetSeverity(), severity);
    EXPECT_EQ(f.logger->IsEnabled(), enabled);

    // The session that can be read afterwards is the one kept.
    TRACEHANDLE good = 0x43;
    f.api->levels[good] = 2;
    EXPECT_EQ(f.api->control(WMI_ENABLE_EVENTS, &good), 0u);
    EXPECT_EQ(f.logger->TraceHandle(), good);
}

TEST_F(EnabledLogger, EventLayout)
{
    start(1, L"Group\u00e9");
    ASSERT_EQ(f.logger->LogEx(6, L"message\\ReplyImpl", L"Ostrand::ReplyImpl::wait", -12, L"Hello %s and %hs.",
                              L"w\u00f6rld", "narrow"),
              0u);
    ASSERT_EQ(f.api->events.size(), 1u);
    const auto& e = f.api->events[0];
    EXPECT_EQ(e.header.Size, 80);
    EXPECT_EQ(e.header.Class.Type, 1);
    EXPECT_EQ(e.header.Class.Level, 3) << "level 6 is recorded as 3";
    EXPECT_EQ(e.header.Class.Version, 2);
    EXPECT_TRUE(IsEqualGUID(e.header.Guid, kEventClassGuid));
    EXPECT_EQ(e.header.Flags, 0x120000u);
    EXPECT_EQ(e.header.ThreadId, 0u);
    EXPECT_EQ(e.header.ProcessId, 0u);
    ASSERT_TRUE(e.decoded);
    EXPECT_EQ(e.processId, GetCurrentProcessId());
    EXPECT_EQ(e.threadId, GetCurrentThreadId());
    EXPECT_EQ(e.executable, programName());
    EXPECT_EQ(e.file, L"message\\ReplyImpl");
    EXPECT_EQ(e.function, L"Ostrand::ReplyImpl::wait");
    EXPECT_EQ(e.line, -12);
    EXPECT_EQ(e.folder, LoadModuleVersionInfo().folder);
    EXPECT_FALSE(e.folder.empty());
    EXPECT_EQ(e.folder.back(), L'\\');
    EXPECT_EQ(e.group, L"Group\u00e9");
    const std::string expected = "Hello w\xc3\xb6rld and narrow.";
    EXPECT_EQ(e.text, expected);
    EXPECT_EQ(e.textLength, expected.size());
}

TEST_F(EnabledLogger, LevelsMapIntoTheHeader)
{
    start(1);
    struct Case {
        uint32_t level;
        UCHAR recorded;
    } cases[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 3}, {7, 3}, {0xFFFFFFFF, 3}};
    for (const Case& c : cases) {
        EXPECT_EQ(f.logger->MapLevel(c.level), c.recorded) << c.level;
        f.api->events.clear();
        f.logger->LogEx(c.level, L"S", L"f", 1, L"x");
        ASSERT_EQ(f.api->events.size(), 1u) << c.level;
        EXPECT_EQ(f.api->events[0].header.Class.Level, c.recorded) << c.level;
    }
}

TEST_F(EnabledLogger, LongTextsAreCutWithTheirTerminatorAndEmptyOnesSendNothing)
{
    start(1);
    struct Case {
        std::wstring text;
        std::string utf8;
    } cases[] = {
        {std::wstring(3000, L'x'), std::string(2079, 'x') + std::string(1, '\0')},
        {std::wstring(3000, L'\u00e9'), [] {
             std::string s;
             for (int i = 0; i < 2079; ++i)
                 s += "\xc3\xa9";
             return s + std::string(1, '\0');
         }()},
        {std::wstring(2079, L'y'), std::string(2079, 'y')},
        {L"", std::string()},
    };
    for (const Case& c : cases) {
        f.api->events.clear();
        EXPECT_EQ(f.logger->WriteString(4, L"S", L"f", 1, c.text.c_str()), 0u);
        ASSERT_EQ(f.api->events.size(), 1u);
        EXPECT_EQ(f.api->events[0].text, c.utf8) << c.text.size();
        EXPECT_EQ(f.api->events[0].textLength, c.utf8.size());
    }
    // The slot-8 entry and Write go the same way.
    f.api->events.clear();
    f.logger->Log(4, L"S", L"f", 1, L"%s-%d", L"a", 1);
    EXPECT_EQ(f.logger->Write(L"S", L"f", 1, 4, L"b"), 0u);
    ASSERT_EQ(f.api->events.size(), 2u);
    EXPECT_EQ(f.api->events[0].text, "a-1");
    EXPECT_EQ(f.api->events[1].text, "b");
    EXPECT_EQ(f.logger->LogEx(4, L"S", L"f", 1, nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
}

TEST_F(EnabledLogger, LongSourcePlacesMoveTheContextToTheHeap)
{
    start(1);
    const std::wstring function(300, L'F');
    f.logger->LogEx(4, L"Src", function.c_str(), 9, L"t");
    ASSERT_EQ(f.api->events.size(), 1u);
    ASSERT_TRUE(f.api->events[0].decoded);
    EXPECT_EQ(f.api->events[0].function, function);
    EXPECT_GT(f.api->events[0].contextLength, CEventPayload::kInlineCapacity);
}

TEST(ETWLoggerTest, EventPayloadGrowsAndCutsCountedStrings)
{
    CEventPayload payload;
    payload.AppendU32(7);
    EXPECT_FALSE(payload.OnHeap());
    const std::wstring big(70000, L'b');
    payload.AppendCounted(big);
    payload.AppendCounted(nullptr, 5);
    EXPECT_TRUE(payload.OnHeap());
    ASSERT_EQ(payload.Size(), 4u + 2u + 2u * 0xFFFF + 2u);
    uint16_t count = 0;
    std::memcpy(&count, payload.Data() + 4, 2);
    EXPECT_EQ(count, 0xFFFF);
    EXPECT_EQ(payload.Data()[payload.Size() - 1], 0);
    EXPECT_EQ(payload.Data()[6], 'b');
}

TEST(ETWLoggerTest, VersionTextsAreNormalised)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {{L"2,1,0,17", L"2.1.0.17"}, {L"2.1.0.17", L"2.1.0.17"}, {L"2,1,0", L"2,1,0"},
                 {L"2,1,0,17 beta", L"2,1,0,17 beta"}, {L"", L""}};
    for (const Case& c : cases)
        EXPECT_EQ(NormaliseVersionText(c.in), c.out) << TestSupport::narrow(c.in);
}

TEST(ETWLoggerTest, SystemCallsWorkWithoutASession)
{
    CETWLogging logger;
    ASSERT_EQ(logger.InitEx(nullptr, L"Grp", nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(logger.Register(), 0u);
    EXPECT_EQ(logger.LogEx(4, L"Src", L"f", 1, L"nobody listens %d", 1), 0u);
    EXPECT_EQ(logger.Uninit(), 0u);
}

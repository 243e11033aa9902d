// Factory mode: the machine key the setup writes, read when the module is
// made and watched until the setup ends; log requests for at-risk alerts in
// the hour after it.
#include "SentrelTestSupport.h"

#include "TestNames.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using SentrelTest::ModuleFixture;
using TestSupport::LogQuery;

const wchar_t kOemKey[] = L"SOFTWARE\\Corvane\\VLX\\OEM";
const wchar_t kCollectLogs[] = L"sustainability.collect.logs";
const wchar_t kLastRiskIdLowerCase[] = L"b1eb23ed-5b27-4f1c-821a-40683741768f";

// The machine's OEM key, gone before and after each test.
class OemKey {
public:
    OemKey() { remove(); }
    ~OemKey() { remove(); }
    static void remove() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kOemKey); }
    static void set(const wchar_t* name, DWORD value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOemKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                                sizeof(value)));
        RegCloseKey(key);
    }
};

class FactoryMode : public ModuleFixture {
protected:
    bool makesModuleAtSetUp() const override { return false; }

    // Shows the alert and answers the reply's name once it came, when any
    // log request has been published.
    std::wstring show(const std::wstring& alertId)
    {
        const std::wstring instance = std::to_wstring(m_nextId);
        takeIdsUntil(m_nextId + 1);
        return ask(L"Sentrel.Alert.Show." + instance, showRequest(alertId, instance));
    }
    size_t logRequests() { return journalCount(BusDouble::Call::Publish, kCollectLogs); }
    bool waitForLine(const std::wstring& text)
    {
        return TestSupport::waitUntil([&] { return log.contains(ETWLogging::LOG_LEVEL_INFORMATION, text); });
    }

    OemKey oem;
};

TEST_F(FactoryMode, AMachinePastItsSetupOrWithoutTheFactoryValueIsNotInFactoryMode)
{
    const struct {
        const char* name;
        bool factoryValue;
        bool oobeValue;
        DWORD oobeDone;
    } cases[] = {
        {"setup done", true, true, 1},
        {"no FUAllow", false, true, 0},
        {"no oobedone", true, false, 0},
        {"no key", false, false, 0},
    };
    for (const auto& c : cases) {
        OemKey::remove();
        if (c.factoryValue)
            OemKey::set(L"FUAllow", 0);
        if (c.oobeValue)
            OemKey::set(L"oobedone", c.oobeDone);
        makeModule();
        // Were the module watching, this change would open the window.
        OemKey::set(L"oobedone", 0);
        OemKey::set(L"oobedone", 1);
        EXPECT_NE(std::wstring::npos, show(kLastRiskIdLowerCase).find(L".Queued.")) << c.name;
        module->uninitialize();
        destroyModule();
    }
    EXPECT_EQ(0u, logRequests());
    EXPECT_TRUE(log.find(LogQuery{0, L"SentrelImpl", L"", L"OOBE"}).empty());
}

TEST_F(FactoryMode, ARiskAlertInTheHourAfterTheSetupEndsAsksForLogs)
{
    OemKey::set(L"FUAllow", 0);
    OemKey::set(L"oobedone", 0);
    makeModule();
    const auto oobeLines =
        log.find(LogQuery{ETWLogging::LOG_LEVEL_INFORMATION, L"SentrelImpl", L"Kest::SentrelImpl::detectFactoryMode",
                          L"Machine is in OOBE Mode"});
    ASSERT_EQ(1u, oobeLines.size());

    // Before the setup ends there is no window.
    show(kLastRiskIdLowerCase);
    EXPECT_EQ(0u, logRequests());

    BusDouble::RawBusPeer collector;
    collector.subscribe(kCollectLogs);
    OemKey::set(L"oobedone", 1);
    ASSERT_TRUE(waitForLine(L"Got Notification of OOBE Registry Change"));

    show(kLastRiskIdLowerCase);
    EXPECT_EQ(1u, logRequests());
    BusDouble::RawBusPeer::Delivery request;
    ASSERT_TRUE(collector.waitForDelivery(request));
    EXPECT_EQ(kCollectLogs, request.name);
    EXPECT_EQ(kModuleName, request.source);
    EXPECT_EQ(L"{\"Problem\":\"SR_ATRiskAlert_Request\",\"coolingperiod\":\"\",\"throttlingpercent\":\"1\","
              L"\"logstocollect\":\"2\"}",
              request.payload);
    const auto lines = log.find(LogQuery{ETWLogging::LOG_LEVEL_INFORMATION, L"SentrelImpl",
                                         L"Kest::SentrelImpl::CollectLogsForRiskAlert", L""});
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"Got alertid: " + std::wstring(kLastRiskIdLowerCase) + L" request within 1hr of OOBE", lines[0].text);

    // Only the four ids themselves, and only queued alerts.
    show(L"{B1EB23ED-5B27-4f1c-821A-40683741768F}");
    show(L"B1EB23ED-5B27-4f1c-821A-40683741768");
    factory->script->suppressedAlertIds.insert(L"4BF486E5-B05F-4D6D-AA39-EEBEEF38DAE1");
    EXPECT_NE(std::wstring::npos, show(L"4BF486E5-B05F-4D6D-AA39-EEBEEF38DAE1").find(L".Suppressed."));
    EXPECT_EQ(1u, logRequests());

    // A later change of the value does not move the window.
    OemKey::set(L"oobedone", 0);
    OemKey::set(L"oobedone", 2);
    clock->advanceMinutes(59);
    show(L"1538568b-8381-49e0-93ba-99ad8fa44d23");
    EXPECT_EQ(2u, logRequests());
    clock->advanceMinutes(2);
    show(L"1538568B-8381-49E0-93BA-99AD8FA44D23");
    EXPECT_EQ(2u, logRequests());
    EXPECT_EQ(1u, log.find(LogQuery{0, L"", L"", L"Got Notification of OOBE Registry Change"}).size());
}

TEST_F(FactoryMode, ASetupEndWrittenRightAfterTheModuleIsMadeIsSeen)
{
    OemKey::set(L"FUAllow", 0);
    OemKey::set(L"oobedone", 0);
    makeModule();
    // Before the module's watch may be in place.
    OemKey::set(L"oobedone", 1);
    ASSERT_TRUE(waitForLine(L"Got Notification of OOBE Registry Change"));

    show(kLastRiskIdLowerCase);
    EXPECT_EQ(1u, logRequests());
    EXPECT_EQ(1u, log.find(LogQuery{ETWLogging::LOG_LEVEL_INFORMATION, L"SentrelImpl",
                                    L"Kest::SentrelImpl::onOobeRegistryChange",
                                    L"Got Notification of OOBE Registry Change"})
                      .size())
        << "the end of the setup is taken over once";
}

} // namespace

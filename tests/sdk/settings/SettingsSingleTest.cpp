// Reading, writing and removing one property through the settings service on the bus.
#include "SettingsTestSupport.h"

#include "TestNames.h"
#include "WaitUntil.h"
#include "dll/ModuleException.h"

#include <cfloat>
#include <cstdint>
#include <functional>
#include <thread>

using namespace std::chrono_literals;
using Ostrand::Message;
using Ostrand::Reply;
using Ostrand::SettingsManager;
using Ostrand::SettingsManagerClient;
using SettingsPeer::Fault;
using SettingsTest::kTimeout;
using SettingsTest::ScriptedBus;

namespace {

class SingleProperty : public SettingsTest::SettingsFixture {
protected:
    // The replies the service sent so far, in time or late.
    static size_t replies()
    {
        size_t count = 0;
        BusDouble::JournalEntry entry{};
        for (uint32_t i = 0; control().journalEntry(i, &entry); ++i)
            count += entry.call == BusDouble::Call::Publish && (entry.flags & (1u << MESSAGE_FLAG_REPLY)) ? 1 : 0;
        return count;
    }

    // Writes through a typed setter, then reads back through the typed getter.
    template <typename T>
    void roundTrip(const std::wstring& name, T value, const std::wstring& text, bool isVolatile = false)
    {
        SCOPED_TRACE(TestSupport::narrow(name));
        const bool set = isVolatile ? settings->setVolatileProperty(name, value, kTimeout)
                                    : settings->setProperty(name, value, kTimeout);
        ASSERT_TRUE(set);
        EXPECT_EQ(text, service.find(name).value_or(L"<missing>"));
        EXPECT_EQ(isVolatile, service.isVolatile(name));
        T read{};
        ASSERT_TRUE(settings->getProperty(name, read, kTimeout));
        if (!isVolatile) {
            EXPECT_EQ(value, read);
        }
    }
};

template <typename T>
std::function<std::string(SettingsManager&)> reader(T untouched)
{
    return [untouched](SettingsManager& settings) {
        T value = untouched;
        if (!settings.getProperty(L"n", value, kTimeout))
            return value == untouched ? std::string("false") : std::string("false, output written");
        std::ostringstream text;
        text.precision(17);
        text << value;
        return text.str();
    };
}

// The bus's 5 s time-out as a tenth of a real second: far from a call's own
// deadline (six seconds) and from a reply two seconds late, so that a loaded
// machine cannot blur which of them came first.
const double kShortScale = 0.02;

const wchar_t kInvalid[] = L"Conversion failed due to invalid arguments.";
const wchar_t kOutOfRange[] = L"Conversion failed, out of range for destination type.";

} // namespace

TEST_F(SingleProperty, TypedValuesTravelAsDecimalText)
{
    roundTrip(L"double.tenth", 0.1, L"0.1");
    roundTrip(L"double.whole", 3.0, L"3");
    roundTrip(L"double.large", 1e20, L"1e+20");
    roundTrip(L"double.digits", 1.0 / 3.0, L"0.3333333333333333");
    roundTrip(L"u32", static_cast<uint32_t>(4294967295u), L"4294967295");
    roundTrip(L"u64", static_cast<uint64_t>(18446744073709551615ull), L"18446744073709551615");
    roundTrip(L"ulong", 7ul, L"7");
    roundTrip(L"i64", static_cast<int64_t>(INT64_MIN), L"-9223372036854775808");
    roundTrip(L"int", -42, L"-42");
    roundTrip(L"bool.true", true, L"1");
    roundTrip(L"bool.false", false, L"0");
    roundTrip(L"text", std::wstring(L"a \"quoted\" value"), L"a \"quoted\" value");

    ASSERT_TRUE(settings->setProperty(L"pointer", L"{}", kTimeout));
    EXPECT_EQ(L"{}", service.find(L"pointer").value_or(L""));
    EXPECT_EQ(0u, clientLines());
}

TEST_F(SingleProperty, VolatileSetsMarkTheRequestAndWriteDoublesWithSixDecimals)
{
    roundTrip(L"v.tenth", 0.1, L"0.100000", true);
    roundTrip(L"v.int", -1, L"-1", true);
    roundTrip(L"v.bool", true, L"1", true);
    roundTrip(L"v.text", std::wstring(L"x"), L"x", true);

    // The longest "%f" text: 309 digits, the point and six decimals, and the sign.
    ASSERT_TRUE(settings->setVolatileProperty(L"v.max", -DBL_MAX, kTimeout));
    const std::wstring text = service.find(L"v.max").value_or(L"");
    EXPECT_EQ(317u, text.size());
    EXPECT_EQ(0u, text.find(L"-17976931348623157"));
    EXPECT_EQ(text.size() - 7, text.find(L".000000"));
    ASSERT_TRUE(settings->setVolatileProperty(L"v.small", 1e-300, kTimeout));
    EXPECT_EQ(L"0.000000", service.find(L"v.small").value_or(L""));
}

TEST_F(SingleProperty, RequestsCarryTheirMembersInOrder)
{
    ASSERT_TRUE(settings->setProperty(L"a", std::wstring(L"5"), kTimeout));
    ASSERT_TRUE(settings->setVolatileProperty(L"a", std::wstring(L"6"), kTimeout));
    std::wstring value;
    ASSERT_TRUE(settings->getProperty(L"a", value, kTimeout));
    ASSERT_TRUE(settings->removeProperty(L"a", kTimeout));

    const auto requests = peer.requests();
    ASSERT_EQ(4u, requests.size());
    const struct {
        const wchar_t* name;
        const wchar_t* payload;
    } expected[] = {
        {L"SETTINGS_MANAGER_SET_PROPERTY", L"{\"name\":\"a\",\"value\":\"5\",\"volatile\":false}"},
        {L"SETTINGS_MANAGER_SET_PROPERTY", L"{\"name\":\"a\",\"value\":\"6\",\"volatile\":true}"},
        {L"SETTINGS_MANAGER_GET_PROPERTY", L"{\"name\":\"a\"}"},
        {L"SETTINGS_MANAGER_REMOVE_PROPERTY", L"{\"name\":\"a\"}"},
    };
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(expected[i].name, requests[i].name);
        EXPECT_EQ(expected[i].payload, requests[i].payload);
        EXPECT_TRUE(requests[i].expectsReply);
    }
    EXPECT_EQ(L"6", value);
    EXPECT_FALSE(service.find(L"a").has_value());
}

TEST_F(SingleProperty, TextsConvertByTheCLibraryRulesOrAnswerFalse)
{
    const struct {
        const wchar_t* text;
        std::function<std::string(SettingsManager&)> read;
        const char* expected;
        const wchar_t* line;
    } cases[] = {
        {L"12abc", reader<int>(-5), "12", nullptr},
        {L"  7", reader<int>(-5), "7", nullptr},
        {L"abc", reader<int>(-5), "false", kInvalid},
        {L"", reader<int>(-5), "false", kInvalid},
        {L"2147483648", reader<int>(-5), "false", kOutOfRange},
        {L"4294967295", reader<uint32_t>(5), "4294967295", nullptr},
        {L"4294967296", reader<uint32_t>(5), "false", kOutOfRange},
        {L"4294967296", reader<unsigned long>(5), "false", kOutOfRange},
        {L"4294967296", reader<uint64_t>(5), "4294967296", nullptr},
        {L"-1", reader<uint32_t>(5), "4294967295", nullptr},
        {L"-1", reader<uint64_t>(5), "18446744073709551615", nullptr},
        {L"18446744073709551616", reader<uint64_t>(5), "false", kOutOfRange},
        {L"-9223372036854775809", reader<int64_t>(5), "false", kOutOfRange},
        {L"-9223372036854775808", reader<int64_t>(5), "-9223372036854775808", nullptr},
        {L"0.25", reader<double>(5), "0.25", nullptr},
        {L"1e999", reader<double>(5), "false", kOutOfRange},
        {L"x1", reader<double>(5), "false", kInvalid},
        {L"2", reader<bool>(false), "1", nullptr},
        {L"0", reader<bool>(true), "0", nullptr},
        {L"true", reader<bool>(true), "false", kInvalid},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.text));
        service.seed(L"n", c.text);
        const size_t invalid = lines(2, L"Ostrand::SettingsManagerClient::Impl::tryConvert", kInvalid);
        const size_t outOfRange = lines(2, L"Ostrand::SettingsManagerClient::Impl::tryConvert", kOutOfRange);
        EXPECT_EQ(c.expected, c.read(*settings));
        const bool wantInvalid = c.line == kInvalid, wantRange = c.line == kOutOfRange;
        EXPECT_EQ(invalid + (wantInvalid ? 1 : 0),
                  lines(2, L"Ostrand::SettingsManagerClient::Impl::tryConvert", kInvalid));
        EXPECT_EQ(outOfRange + (wantRange ? 1 : 0),
                  lines(2, L"Ostrand::SettingsManagerClient::Impl::tryConvert", kOutOfRange));
    }
}

TEST_F(SingleProperty, AMissingPropertyAnswersFalseWithoutALine)
{
    std::wstring text = L"untouched";
    EXPECT_FALSE(settings->getProperty(L"absent", text, kTimeout));
    EXPECT_EQ(L"untouched", text);
    int number = 9;
    EXPECT_FALSE(settings->getProperty(L"absent", number, kTimeout));
    EXPECT_EQ(9, number);
    EXPECT_FALSE(settings->removeProperty(L"absent", kTimeout));
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::removeProperty",
                        L"Settings Manager failed to remove property."));
    EXPECT_EQ(1u, clientLines());
}

TEST_F(SingleProperty, AnUnusableReplyAnswersFalseWithItsLine)
{
    const std::wstring verify = L"Ostrand::SettingsManagerClient::Impl::verifyPropertyName";
    const std::wstring response = L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponse";
    const std::wstring value = L"Ostrand::SettingsManagerClient::Impl::getPropertyValue";
    const std::wstring set = L"Ostrand::SettingsManagerClient::Impl::setProperty";
    const std::wstring remove = L"Ostrand::SettingsManagerClient::removeProperty";
    const std::wstring mismatch = L"Response property name (a-other) does not match expected property name (a).";
    const std::wstring noName = L"Failed to read settings manager response property name.";
    const std::wstring notJson = L"Failed to parse settings manager response message. Returning.";
    const std::wstring noStatus = L"Failed to read settings manager response status.";
    const std::wstring noValue = L"Failed to read settings manager response value.";
    enum Operation { Get, Set, Remove };
    const struct {
        Operation operation;
        Fault fault;
        std::wstring function; // empty: no line at all
        std::wstring text;
    } cases[] = {
        {Get, Fault::WrongName, verify, mismatch},
        {Get, Fault::NameMissing, verify, noName},
        {Get, Fault::NotJson, response, notJson},
        {Get, Fault::StatusMissing, value, noStatus},
        {Get, Fault::StatusNotBoolean, value, noStatus},
        {Get, Fault::ValueMissing, value, noValue},
        {Get, Fault::ValueNotString, value, noValue},
        {Get, Fault::Refuse, L"", L""},
        {Set, Fault::WrongName, verify, mismatch},
        {Set, Fault::NameMissing, verify, noName},
        {Set, Fault::NotJson, response, notJson},
        {Set, Fault::StatusMissing, set, noStatus},
        {Set, Fault::StatusNotBoolean, set, noStatus},
        {Set, Fault::Refuse, set, L"Settings Manager failed to set property value."},
        {Remove, Fault::WrongName, verify, mismatch},
        {Remove, Fault::NameMissing, verify, noName},
        {Remove, Fault::NotJson, response, notJson},
        {Remove, Fault::StatusMissing, remove, noStatus},
        {Remove, Fault::StatusNotBoolean, remove, noStatus},
        {Remove, Fault::Refuse, remove, L"Settings Manager failed to remove property."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "operation " << c.operation << ", fault "
                                          << static_cast<int>(c.fault));
        service.seed(L"a", L"5");
        service.setFault(c.fault);
        const size_t before = c.function.empty() ? 0 : lines(2, c.function, c.text);
        const size_t all = clientLines();
        std::wstring text = L"untouched";
        bool answer = true;
        if (c.operation == Get)
            answer = settings->getProperty(L"a", text, kTimeout);
        else if (c.operation == Set)
            answer = settings->setProperty(L"a", std::wstring(L"6"), kTimeout);
        else
            answer = settings->removeProperty(L"a", kTimeout);
        EXPECT_FALSE(answer);
        EXPECT_EQ(L"untouched", text);
        EXPECT_EQ(all + (c.function.empty() ? 0 : 1), clientLines());
        if (!c.function.empty()) {
            EXPECT_EQ(before + 1, lines(2, c.function, c.text));
        }
        service.setFault(Fault::None);
    }
}

TEST_F(SingleProperty, ASilentServiceCostsTheBusTimeOut)
{
    service.seed(L"a", L"5");
    service.setFault(Fault::NoReply);
    control().setTimeScale(kShortScale);
    const auto start = std::chrono::steady_clock::now();
    std::wstring text;
    EXPECT_FALSE(settings->getProperty(L"a", text, kTimeout));
    EXPECT_FALSE(settings->setProperty(L"a", 1, kTimeout));
    EXPECT_FALSE(settings->removeProperty(L"a", kTimeout));
    const auto spent = std::chrono::steady_clock::now() - start;
    // Each call waits for the bus's time-out, never for its own deadline:
    // less than three of those is the bus's time-out deciding.
    EXPECT_GE(spent, 3 * kShortScale * kTimeout - 30ms);
    EXPECT_LT(spent, 3 * (kTimeout + 1s) - 1s) << "a call waited for its own deadline";
    EXPECT_EQ(3u, lines(2, L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponse",
                        L"Property request timed out. Returning."));
    EXPECT_EQ(L"5", service.find(L"a").value_or(L"")) << "a silent service here also changes nothing";
}

TEST_F(SingleProperty, ABusThatNeverReportsTheTimeOutCostsTheTimeOutPlusOneSecond)
{
    // The double's time-out is now far away; the reply's own deadline decides.
    control().setTimeScale(1000);
    service.setFault(Fault::NoReply);
    const auto start = std::chrono::steady_clock::now();
    std::wstring text;
    EXPECT_FALSE(settings->getProperty(L"a", text, 200ms));
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, 1200ms - 20ms);
    // The bus's own time-out lies 200 s away: well before it, the reply's deadline decided.
    EXPECT_LT(spent, 60s);
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponse",
                        L"Property request timed out. Returning."));
}

TEST_F(SingleProperty, AReplyCountsOnlyWhenItArrivesWithinTheTimeOut)
{
    service.seed(L"a", L"5");
    std::wstring text;
    peer.setReplyDelay(1s);
    EXPECT_TRUE(settings->getProperty(L"a", text, kTimeout)) << "well inside the time-out";
    EXPECT_EQ(L"5", text);

    // The time-out is a tenth of a real second now, the answer twenty times as late.
    control().setTimeScale(kShortScale);
    peer.setReplyDelay(2s);
    service.seed(L"a", L"6");
    text = L"untouched";
    EXPECT_FALSE(settings->getProperty(L"a", text, kTimeout)) << "outside the time-out";
    EXPECT_EQ(L"untouched", text);
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponse",
                        L"Property request timed out. Returning."));

    // The late answer, once it is out, must not be taken for the answer of the next request.
    ASSERT_TRUE(TestSupport::waitUntil([] { return replies() == 2; }));
    control().setTimeScale(1.0);
    peer.setReplyDelay(0ms);
    service.seed(L"a", L"7");
    EXPECT_TRUE(settings->getProperty(L"a", text, kTimeout));
    EXPECT_EQ(L"7", text);
}

TEST_F(SingleProperty, BusAndReplyFailuresAnswerFalseWithTheirLines)
{
    auto scripted = std::make_shared<ScriptedBus>();
    SettingsManagerClient client(scripted);
    std::wstring text = L"untouched";

    scripted->requestStatus = MODULE_STATUS_NO_SUBSCRIBERS;
    EXPECT_FALSE(client.getProperty(L"a", text, kTimeout));
    EXPECT_FALSE(client.setProperty(L"a", 5, kTimeout));
    EXPECT_FALSE(client.removeProperty(L"a", kTimeout));
    const std::wstring code = L"Error code: MODULE_STATUS_NO_SUBSCRIBERS(2147483662)";
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::getProperty",
                        L"Failed to make get property request. " + code));
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::Impl::setProperty",
                        L"Failed to make set property request. " + code));
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::removeProperty",
                        L"Failed to make remove property request. " + code));

    const std::wstring function = L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponse";
    scripted->requestStatus = 0;
    const struct {
        int32_t status;
        bool giveReply;
        bool giveMessage;
        const wchar_t* line;
    } cases[] = {
        {Reply::Failed, true, false, L"Property request failed with DATA_ERROR. Returning."},
        {Reply::Pending, true, false, L"Property request failed on wait() with unknown error."},
        {Reply::Received, false, false, L"Property request failed on wait() with unknown error."},
        {Reply::Received, true, false, L"Failed to parse settings manager response message. Returning."},
        {Reply::Received, true, true, L"Failed to parse settings manager response message. Returning."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.line));
        scripted->replyStatus = c.status;
        scripted->giveReply = c.giveReply;
        scripted->replyMessage = c.giveMessage ? Message::create(L"r", L"s", L"[\"an array\"]") : nullptr;
        const size_t before = lines(2, function, c.line);
        EXPECT_FALSE(client.getProperty(L"a", text, kTimeout));
        EXPECT_EQ(before + 1, lines(2, function, c.line));
    }
    EXPECT_EQ(L"untouched", text);
}

TEST_F(SingleProperty, ANullTextIsRefusedBeforeAnythingIsSent)
{
    const wchar_t* none = nullptr;
    EXPECT_FALSE(settings->setProperty(L"a", none, kTimeout));
    EXPECT_FALSE(settings->setVolatileProperty(L"a", none, kTimeout));
    EXPECT_TRUE(peer.requests().empty());
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::setProperty", L"Property value is null. Returning."));
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::setVolatileProperty",
                        L"Property value is null. Returning."));
}

TEST_F(SingleProperty, CallsFromSeveralThreadsEachGetTheirOwnAnswer)
{
    const int kThreads = 6, kCalls = 10;
    for (int t = 0; t < kThreads; ++t)
        service.seed(L"t" + std::to_wstring(t), std::to_wstring(t * 100));
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t]() {
            for (int i = 0; i < kCalls; ++i) {
                int value = -1;
                if (!settings->getProperty(L"t" + std::to_wstring(t), value, kTimeout) || value != t * 100)
                    ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(0, wrong[t]) << "thread " << t;
}

TEST_F(SingleProperty, TheFactoryMakesAClientWithABusOfItsOwn)
{
    std::unique_ptr<SettingsManager> first = SettingsManagerClient::getInstance();
    std::unique_ptr<SettingsManager> second = SettingsManagerClient::getInstance();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_NE(first.get(), second.get());
    // The service, the fixture's bus client and one connection per factory client.
    EXPECT_EQ(4u, control().openConnections());
    service.seed(L"a", L"5");
    std::wstring text;
    EXPECT_TRUE(first->getProperty(L"a", text, kTimeout));
    EXPECT_EQ(L"5", text);
}

TEST_F(SingleProperty, WithoutABusConnectionTheFactoryAnswersEmpty)
{
    control().setGetHandleStatus(MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_FALSE(SettingsManagerClient::getInstance());
    EXPECT_EQ(1u, lines(4, L"Ostrand::SettingsManagerClient::getInstance",
                        L"Failed to create settings manager client. Caught ModuleException - what: "));
    EXPECT_THROW(SettingsManagerClient client(nullptr), Ostrand::ModuleException);
}

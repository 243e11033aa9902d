// Every settings call that takes a time-out, with time-outs at the far end
// of the range: each waits for the service's answer and returns it.
#include "SettingsTestSupport.h"

#include "HugeTimeouts.h"

#include <functional>

using Ostrand::SettingsManager;
using TestSupport::HugeTimeout;

namespace {

using Timeout = std::chrono::milliseconds;

struct Call {
    const char* what;
    std::function<bool(SettingsManager&, const Timeout&)> run;
};

const Call kCalls[] = {
    {"getProperty", [](SettingsManager& s, const Timeout& t) {
         std::wstring value;
         return s.getProperty(L"Seeded", value, t) && value == L"7";
     }},
    {"typed getProperty", [](SettingsManager& s, const Timeout& t) {
         int value = 0;
         return s.getProperty(L"Seeded", value, t) && value == 7;
     }},
    {"setProperty", [](SettingsManager& s, const Timeout& t) { return s.setProperty(L"Set", std::wstring(L"1"), t); }},
    {"setVolatileProperty", [](SettingsManager& s, const Timeout& t) { return s.setVolatileProperty(L"Vol", 2, t); }},
    {"removeProperty", [](SettingsManager& s, const Timeout& t) { return s.removeProperty(L"Gone", t); }},
    {"getProperties", [](SettingsManager& s, const Timeout& t) {
         SettingsManager::PropertyMap values;
         return s.getProperties({L"Seeded"}, values, t) == SettingsManager::ResultMap{{L"Seeded", true}};
     }},
    {"setProperties", [](SettingsManager& s, const Timeout& t) {
         return s.setProperties({{L"A", L"1"}}, t) == SettingsManager::ResultMap{{L"A", true}};
     }},
    {"setVolatileProperties", [](SettingsManager& s, const Timeout& t) {
         return s.setVolatileProperties({{L"B", L"1"}}, t) == SettingsManager::ResultMap{{L"B", true}};
     }},
    {"getPropertiesByPrefix", [](SettingsManager& s, const Timeout& t) {
         SettingsManager::PropertyMap values;
         return s.getPropertiesByPrefix(L"Seed", values, t) && values.count(L"Seeded") == 1;
     }},
    {"removeProperties", [](SettingsManager& s, const Timeout& t) {
         return s.removeProperties({L"Gone2"}, t) == SettingsManager::ResultMap{{L"Gone2", true}};
     }},
    {"removePropertiesByPrefix", [](SettingsManager& s, const Timeout& t) {
         return s.removePropertiesByPrefix(L"Prefixed/", t);
     }},
};

class HugeTimeoutSettings : public SettingsTest::SettingsFixture,
                            public ::testing::WithParamInterface<HugeTimeout> {};

} // namespace

TEST_P(HugeTimeoutSettings, EveryCallGetsItsAnswer)
{
    // Each answer takes a twentieth of a real second: the call is waiting when it comes.
    control().setReplyMode(BusDouble::ReplyMode::Delay, 250);
    for (const Call& call : kCalls) {
        service.seed(L"Seeded", L"7");
        service.seed(L"Gone", L"x");
        service.seed(L"Gone2", L"x");
        service.seed(L"Prefixed/p", L"x");
        EXPECT_TRUE(call.run(*settings, GetParam().value)) << call.what;
    }
    EXPECT_EQ(0u, clientLines());
}

INSTANTIATE_TEST_SUITE_P(Ends, HugeTimeoutSettings, ::testing::ValuesIn(TestSupport::hugeTimeouts()),
                         [](const ::testing::TestParamInfo<HugeTimeout>& info) {
                             return std::string(info.param.label);
                         });

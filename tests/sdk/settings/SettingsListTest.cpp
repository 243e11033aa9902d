// Reading, writing and removing several properties, by name and by prefix.
#include "SettingsTestSupport.h"

#include "TestNames.h"

using namespace std::chrono_literals;
using Ostrand::SettingsManager;
using SettingsPeer::Fault;
using SettingsTest::kScale;
using SettingsTest::kTimeout;
using SettingsTest::sameJson;

namespace {

class PropertyLists : public SettingsTest::SettingsFixture {
protected:
    void seedViewers()
    {
        service.seed(L"Sentrel/Viewer/a", L"{}");
        service.seed(L"Sentrel/Viewer/b", L"{\"x\":1}");
        service.seed(L"Sentrel/Product/p", L"{}");
        service.seed(L"Other", L"1");
    }
    std::wstring lastPayload()
    {
        const auto all = peer.requests();
        return all.empty() ? std::wstring() : all.back().payload;
    }
};

using Results = SettingsManager::ResultMap;
using Values = SettingsManager::PropertyMap;

} // namespace

TEST_F(PropertyLists, GetPropertiesReadsEachNameAndMarksTheMissing)
{
    seedViewers();
    Values values{{L"kept", L"old"}};
    const Results result = settings->getProperties({L"Other", L"Sentrel/Viewer/a", L"absent"}, values, kTimeout);
    EXPECT_EQ((Results{{L"Other", true}, {L"Sentrel/Viewer/a", true}, {L"absent", false}}), result);
    EXPECT_EQ((Values{{L"kept", L"old"}, {L"Other", L"1"}, {L"Sentrel/Viewer/a", L"{}"}}), values);
    EXPECT_EQ(L"SettingsManager.GetProperties.Request", peer.requests().back().name);
    EXPECT_TRUE(sameJson(L"{\"properties\":[{\"name\":\"Other\"},{\"name\":\"Sentrel/Viewer/a\"},{\"name\":\"absent\"}]}",
                         lastPayload()));
    EXPECT_EQ(0u, clientLines()) << "a status false entry is no fault";
}

TEST_F(PropertyLists, GetByPrefixAddsEveryPropertyUnderThePrefixes)
{
    seedViewers();
    Values values{{L"Sentrel/Viewer/a", L"stale"}, {L"kept", L"old"}};
    EXPECT_TRUE(settings->getPropertiesByPrefix(L"Sentrel/Viewer", values, kTimeout));
    EXPECT_EQ((Values{{L"Sentrel/Viewer/a", L"{}"}, {L"Sentrel/Viewer/b", L"{\"x\":1}"}, {L"kept", L"old"}}), values);
    EXPECT_EQ(L"{\"properties\":[{\"name\":\"Sentrel/Viewer\",\"isPrefix\":true}]}", lastPayload());

    Values both;
    EXPECT_TRUE(settings->getPropertiesByPrefix(SettingsManager::NameList{L"Sentrel/Product", L"Oth"}, both, kTimeout));
    EXPECT_EQ((Values{{L"Sentrel/Product/p", L"{}"}, {L"Other", L"1"}}), both);

    Values none;
    EXPECT_TRUE(settings->getPropertiesByPrefix(L"Nothing", none, kTimeout)) << "no match is no failure";
    EXPECT_TRUE(none.empty());
}

TEST_F(PropertyLists, SetPropertiesWritesEveryEntryInOneRequest)
{
    const Values wanted{{L"a", L"1"}, {L"b", L"two"}, {L"c", L""}};
    EXPECT_EQ((Results{{L"a", true}, {L"b", true}, {L"c", true}}), settings->setProperties(wanted, kTimeout));
    EXPECT_EQ(L"SettingsManager.SetProperties.Request", peer.requests().back().name);
    EXPECT_TRUE(sameJson(L"{\"properties\":[{\"name\":\"a\",\"value\":\"1\",\"volatile\":false},"
                         L"{\"name\":\"b\",\"value\":\"two\",\"volatile\":false},"
                         L"{\"name\":\"c\",\"value\":\"\",\"volatile\":false}]}",
                         lastPayload(), L"properties"));
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"a", L"1"}, {L"b", L"two"}, {L"c", L""}}), service.contents());

    EXPECT_EQ((Results{{L"v", true}}), settings->setVolatileProperties({{L"v", L"x"}}, kTimeout));
    EXPECT_EQ(L"{\"properties\":[{\"name\":\"v\",\"value\":\"x\",\"volatile\":true}]}", lastPayload());
    EXPECT_TRUE(service.isVolatile(L"v"));
}

TEST_F(PropertyLists, RemovePropertiesAnswersForEachName)
{
    seedViewers();
    const Results result = settings->removeProperties({L"Other", L"absent"}, kTimeout);
    EXPECT_EQ((Results{{L"Other", true}, {L"absent", false}}), result);
    EXPECT_EQ(L"SettingsManager.RemoveProperties.Request", peer.requests().back().name);
    EXPECT_EQ(L"{\"properties\":[{\"name\":\"Other\"},{\"name\":\"absent\"}]}", lastPayload());
    EXPECT_FALSE(service.find(L"Other").has_value());
    EXPECT_EQ(1u, lines(2, L"Ostrand::SettingsManagerClient::removeProperties",
                        L"Settings Manager failed to remove property. Property Name: absent"));
}

TEST_F(PropertyLists, RemoveByPrefixCountsWhatTheServiceRemoved)
{
    seedViewers();
    const Results result = settings->removePropertiesByPrefix(SettingsManager::NameList{L"Sentrel/Viewer", L"None"},
                                                              kTimeout);
    EXPECT_EQ((Results{{L"Sentrel/Viewer", true},
                       {L"Sentrel/Viewer/a", true},
                       {L"Sentrel/Viewer/b", true},
                       {L"None", false}}),
              result);
    EXPECT_EQ(L"{\"properties\":[{\"name\":\"Sentrel/Viewer\",\"isPrefix\":true},{\"name\":\"None\",\"isPrefix\":true}]}",
              lastPayload());
    EXPECT_EQ((std::map<std::wstring, std::wstring>{{L"Other", L"1"}, {L"Sentrel/Product/p", L"{}"}}),
              service.contents());

    EXPECT_TRUE(settings->removePropertiesByPrefix(std::wstring(L"Sentrel/Product"), kTimeout));
    EXPECT_FALSE(settings->removePropertiesByPrefix(std::wstring(L"Sentrel/Product"), kTimeout)) << "nothing left";
}

TEST_F(PropertyLists, EmptyListsStillAskTheService)
{
    Values values;
    EXPECT_TRUE(settings->getProperties({}, values, kTimeout).empty());
    EXPECT_TRUE(settings->setProperties({}, kTimeout).empty());
    EXPECT_TRUE(settings->removeProperties({}, kTimeout).empty());
    const auto requests = peer.requests();
    ASSERT_EQ(3u, requests.size());
    for (const auto& request : requests)
        EXPECT_EQ(L"{}", request.payload);
}

TEST_F(PropertyLists, UnusableEntriesAreSkippedOneByOne)
{
    seedViewers();
    const std::wstring get = L"Ostrand::SettingsManagerClient::getProperties";
    const std::wstring byPrefix = L"Ostrand::SettingsManagerClient::getPropertiesByPrefix";
    const std::wstring set = L"Ostrand::SettingsManagerClient::Impl::setProperties";
    const std::wstring remove = L"Ostrand::SettingsManagerClient::removeProperties";
    const std::wstring removeByPrefix = L"Ostrand::SettingsManagerClient::removePropertiesByPrefix";
    const std::wstring value = L"Ostrand::SettingsManagerClient::Impl::getPropertyValue";
    enum Operation { Get, ByPrefix, Set, Remove, RemoveByPrefix };
    const struct {
        Operation operation;
        Fault fault;
        std::wstring function;
        std::wstring text; // once per entry
    } cases[] = {
        {Get, Fault::NameMissing, get, L"Failed to read settings property response name."},
        {Get, Fault::WrongName, get, L"Received an unexpected setting property. Name: Other-other."},
        {Get, Fault::StatusMissing, value, L"Failed to read settings manager response status."},
        {Get, Fault::ValueNotString, value, L"Failed to read settings manager response value."},
        {ByPrefix, Fault::NameMissing, byPrefix, L"Failed to read settings property response name. Skipping"},
        {ByPrefix, Fault::StatusNotBoolean, value, L"Failed to read settings manager response status."},
        {ByPrefix, Fault::ValueMissing, value, L"Failed to read settings manager response value."},
        {Set, Fault::NameMissing, set, L"Failed to read settings property response name."},
        {Set, Fault::WrongName, set, L"Received unexpected setting property response. Name: Other-other."},
        {Set, Fault::StatusMissing, set, L"Failed to read settings manager response status. Property Name: Other"},
        {Set, Fault::Refuse, set, L"Settings Manager failed to set property value. Property Name: Other"},
        {Remove, Fault::NameMissing, remove, L"Failed to read settings property response name."},
        {Remove, Fault::WrongName, remove, L"Received unexpected setting property. Name: Other-other."},
        {Remove, Fault::StatusNotBoolean, remove,
         L"Failed to read settings manager response status. Property Name: Other"},
        {Remove, Fault::Refuse, remove, L"Settings Manager failed to remove property. Property Name: Other"},
        {RemoveByPrefix, Fault::StatusMissing, removeByPrefix,
         L"Failed to read settings manager response status. Property Name: Other"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "operation " << c.operation << ", fault "
                                          << static_cast<int>(c.fault));
        service.seed(L"Other", L"1");
        service.setFault(c.fault);
        const size_t before = lines(0, c.function, c.text);
        Values values;
        bool anyDone = false;
        switch (c.operation) {
        case Get:
            for (const auto& r : settings->getProperties({L"Other"}, values, kTimeout))
                anyDone |= r.second;
            break;
        case ByPrefix:
            EXPECT_TRUE(settings->getPropertiesByPrefix(L"Other", values, kTimeout));
            break;
        case Set:
            for (const auto& r : settings->setProperties({{L"Other", L"2"}}, kTimeout))
                anyDone |= r.second;
            break;
        case Remove:
            for (const auto& r : settings->removeProperties({L"Other"}, kTimeout))
                anyDone |= r.second;
            break;
        case RemoveByPrefix:
            for (const auto& r : settings->removePropertiesByPrefix(SettingsManager::NameList{L"Oth"}, kTimeout))
                anyDone |= r.second;
            break;
        }
        EXPECT_FALSE(anyDone);
        EXPECT_TRUE(values.empty());
        EXPECT_EQ(before + 1, lines(0, c.function, c.text));
        service.setFault(Fault::None);
    }
}

TEST_F(PropertyLists, UnusableRepliesLeaveEveryNameFalse)
{
    seedViewers();
    const std::wstring check = L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponseList";
    const struct {
        Fault fault;
        const wchar_t* line; // of the reply check; none when the reply itself was read
        bool byPrefixAnswer;
    } cases[] = {
        {Fault::NoReply, L"Property list request timed out. Returning.", false},
        {Fault::NotJson, L"Failed to parse settings manager response message. Returning.", false},
        {Fault::ResponsesNotArray, nullptr, false},
        {Fault::ResponsesMissing, nullptr, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        service.setFault(c.fault);
        control().setTimeScale(c.fault == Fault::NoReply ? kScale : 1.0);
        const size_t before = c.line ? lines(2, check, c.line) : 0;
        const size_t setFailed = lines(4, L"Ostrand::SettingsManagerClient::Impl::setProperties", L"");
        const size_t removeFailed = lines(0, L"Ostrand::SettingsManagerClient::removeProperties", L"");
        Values values{{L"kept", L"old"}};
        EXPECT_EQ((Results{{L"Other", false}, {L"absent", false}}),
                  settings->getProperties({L"Other", L"absent"}, values, kTimeout));
        EXPECT_EQ(c.byPrefixAnswer, settings->getPropertiesByPrefix(L"Sentrel", values, kTimeout));
        EXPECT_EQ((Results{{L"x", false}}), settings->setProperties({{L"x", L"1"}}, kTimeout));
        EXPECT_EQ((Results{{L"Other", false}}), settings->removeProperties({L"Other"}, kTimeout));
        EXPECT_EQ((Results{{L"Sentrel", false}}),
                  settings->removePropertiesByPrefix(SettingsManager::NameList{L"Sentrel"}, kTimeout));
        EXPECT_EQ((Values{{L"kept", L"old"}}), values);
        if (c.line) {
            EXPECT_EQ(before + 5, lines(2, check, c.line));
        }
        // The set and the remove write a line of their own on top of the check's, unless there was nothing to read.
        EXPECT_EQ(setFailed + (c.fault == Fault::ResponsesMissing ? 0 : 1),
                  lines(4, L"Ostrand::SettingsManagerClient::Impl::setProperties", L""));
        // The logger keeps 40 characters of a function's name: both removes count here.
        EXPECT_EQ(removeFailed + (c.fault == Fault::ResponsesMissing ? 0 : 2),
                  lines(0, L"Ostrand::SettingsManagerClient::removeProperties", L""));
        service.setFault(Fault::None);
    }
    EXPECT_EQ(2u, lines(2, L"Ostrand::SettingsManagerClient::removeProperties",
                        L"Failed to parse remove properties response. Error code: MODULE_STATUS_TIMEOUT(2147483661)"));
    EXPECT_EQ(2u, lines(2, L"Ostrand::SettingsManagerClient::removeProperties",
                        L"Failed to parse remove properties response. Error code: MODULE_STATUS_DATA_ERROR(2147483654)"));
    EXPECT_EQ(2u, lines(4, L"Ostrand::SettingsManagerClient::removeProperties",
                        L"Failed to parse statuses from remove properties response."));
    EXPECT_EQ(1u, lines(4, L"Ostrand::SettingsManagerClient::Impl::setProperties",
                        L"Failed to set properties. Unable to parse responses."));
    EXPECT_EQ(2u, lines(4, L"Ostrand::SettingsManagerClient::Impl::setProperties",
                        L"Failed to set properties. Unable to make request."));
}

#include "alert/AlertContent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Kest::AlertContent;

namespace {

const std::wstring kFullContext =
    LR"({"title":"Title","category":"cat","shortdescription":"short","longdescription":"long","langid":"en",)"
    LR"("detailscontent":"details","defaultcontent":"default","recommendedtext":"rec","detaillinktext":"link",)"
    LR"("detaillinkcontext":"linkctx","appid":"app","plugin":"plug","alertmarketdescription":"market",)"
    LR"("typedescription":"type","telemetry":"tele","width":400,"timeout":20,"detaillinktype":2,"status":5,)"
    LR"("legacy":true,"SuppressAlertByDefault":true,)"
    LR"("timeoutactions":[{"messagename":"t.msg","payload":"tp"},{"payload":"only payload"}],)"
    LR"("dismissalactions":[{"messagename":"d.msg"}],)"
    LR"("options":[{"id":"o1","text":"One","selected":true},{"id":"o2","text":"Two","selected":false}],)"
    LR"("actions":[)"
    LR"({"id":"a1","text":"Yes","default":true,"defaultmessage":{"messagename":"yes","payload":"{}"},)"
    LR"("options":[{"idList":["o1","o2"],"message":{"messagename":"yes.both","payload":"p"}},{}]},)"
    LR"({"id":"a2","text":"No","default":"true","defaultmessage":{}}]})";

TEST(AlertContent, ReadsEveryMemberOfAFullContext)
{
    AlertContent content;
    ASSERT_TRUE(AlertContent::parse(content, kFullContext));
    const std::vector<std::pair<std::wstring, std::wstring>> strings = {
        {L"Title", content.title},           {L"cat", content.category},
        {L"short", content.shortdescription}, {L"long", content.longdescription},
        {L"en", content.langid},             {L"details", content.detailscontent},
        {L"default", content.defaultcontent}, {L"rec", content.recommendedtext},
        {L"link", content.detaillinktext},   {L"linkctx", content.detaillinkcontext},
        {L"app", content.appid},             {L"plug", content.plugin},
        {L"market", content.alertmarketdescription}, {L"type", content.typedescription},
        {L"tele", content.telemetry},
    };
    for (const auto& s : strings)
        EXPECT_EQ(s.first, s.second);
    EXPECT_EQ(400u, content.width);
    EXPECT_EQ(20u, content.timeout);
    EXPECT_EQ(2u, content.detaillinktype);
    EXPECT_EQ(5u, content.status);
    EXPECT_TRUE(content.legacy);
    EXPECT_TRUE(content.SuppressAlertByDefault);

    ASSERT_EQ(2u, content.timeoutactions.size());
    EXPECT_EQ(L"t.msg", content.timeoutactions[0].messagename);
    EXPECT_EQ(L"tp", content.timeoutactions[0].payload);
    EXPECT_EQ(L"", content.timeoutactions[1].messagename);
    EXPECT_EQ(L"only payload", content.timeoutactions[1].payload);
    ASSERT_EQ(1u, content.dismissalactions.size());
    EXPECT_EQ(L"d.msg", content.dismissalactions[0].messagename);

    ASSERT_EQ(2u, content.options.size());
    EXPECT_EQ(L"o2", content.options[1].id);
    EXPECT_EQ(L"Two", content.options[1].text);
    EXPECT_TRUE(content.options[0].selected);
    EXPECT_FALSE(content.options[1].selected);

    ASSERT_EQ(2u, content.actions.size());
    const auto& yes = content.actions[0];
    EXPECT_EQ(L"a1", yes.id);
    EXPECT_EQ(L"Yes", yes.text);
    EXPECT_TRUE(yes.isDefault);
    EXPECT_EQ(L"yes", yes.defaultmessage.messagename);
    EXPECT_EQ(L"{}", yes.defaultmessage.payload);
    ASSERT_EQ(2u, yes.options.size());
    EXPECT_EQ((std::vector<std::wstring>{L"o1", L"o2"}), yes.options[0].idList);
    EXPECT_EQ(L"yes.both", yes.options[0].message.messagename);
    EXPECT_TRUE(yes.options[1].idList.empty());
    EXPECT_EQ(L"", yes.options[1].message.messagename);
    const auto& no = content.actions[1];
    EXPECT_EQ(L"a2", no.id);
    EXPECT_FALSE(no.isDefault); // "true" is text, not a bool
    EXPECT_TRUE(no.options.empty());
}

TEST(AlertContent, MistypedMembersKeepTheirDefaults)
{
    AlertContent content;
    ASSERT_TRUE(AlertContent::parse(
        content, LR"({"title":"T","category":5,"width":-1,"timeout":1.5,"status":"3","legacy":"true",)"
                 LR"("SuppressAlertByDefault":1,"timeoutactions":{"messagename":"m"},)"
                 LR"("dismissalactions":[{"messagename":"kept"},"cut",{"messagename":"after"}]})"));
    EXPECT_EQ(L"T", content.title);
    EXPECT_EQ(L"", content.category);
    EXPECT_EQ(0u, content.width);
    EXPECT_EQ(0u, content.timeout);
    EXPECT_EQ(0u, content.status);
    EXPECT_FALSE(content.legacy);
    EXPECT_FALSE(content.SuppressAlertByDefault);
    EXPECT_TRUE(content.timeoutactions.empty());
    ASSERT_EQ(1u, content.dismissalactions.size());
    EXPECT_EQ(L"kept", content.dismissalactions[0].messagename);
}

TEST(AlertContent, NoTitleOrNoObjectGivesEmptyContent)
{
    for (const wchar_t* context : {LR"({"category":"c","actions":[{"id":"a","text":"t","defaultmessage":{}}]})",
                                   LR"({"title":7})", L"", L"[]", L"{"}) {
        AlertContent content;
        EXPECT_FALSE(AlertContent::parse(content, context));
        EXPECT_EQ(L"", content.title);
        EXPECT_EQ(L"", content.category);
        EXPECT_TRUE(content.actions.empty());
    }
}

// Options and actions with a required member missing end the parse there;
// what came before stays.
TEST(AlertContent, AnIncompleteOptionOrActionEndsTheParseKeepingWhatCameBefore)
{
    const std::wstring goodAction = LR"({"id":"a","text":"A","defaultmessage":{}})";
    const struct {
        std::wstring context;
        size_t options;
        size_t actions;
    } cases[] = {
        {LR"({"title":"T","options":[{"id":"1","text":"x","selected":true},{"id":"2","text":"y"}],"actions":[)" +
             goodAction + L"]}",
         1, 0},
        {LR"({"title":"T","options":[{"text":"x","selected":true}]})", 0, 0},
        {LR"({"title":"T","options":[{"id":"1","selected":true}]})", 0, 0},
        {LR"({"title":"T","actions":[)" + goodAction + L"," + goodAction + LR"(,{"text":"C","defaultmessage":{}}]})",
         0, 2},
        {LR"({"title":"T","actions":[)" + goodAction + LR"(,{"id":"b","defaultmessage":{}}]})", 0, 1},
        {LR"({"title":"T","actions":[{"id":"b","text":"B","defaultmessage":"m"}]})", 0, 0},
        {LR"({"title":"T","actions":[{"id":"b","text":"B"}]})", 0, 0},
    };
    for (const auto& c : cases) {
        AlertContent content;
        EXPECT_FALSE(AlertContent::parse(content, c.context));
        EXPECT_EQ(L"T", content.title);
        EXPECT_EQ(c.options, content.options.size());
        EXPECT_EQ(c.actions, content.actions.size());
    }
}

} // namespace

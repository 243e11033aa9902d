#include "alert/AlertInfo.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

using Kest::AlertInfo;
using Kest::AlertSource;

namespace {

std::string narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    return out;
}

int64_t nowSince1970()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime) -
           116444736000000000LL;
}

void expectSameFields(const AlertInfo& expected, const AlertInfo& actual)
{
    EXPECT_EQ(expected.alertId, actual.alertId);
    EXPECT_EQ(expected.instanceId, actual.instanceId);
    EXPECT_EQ(expected.priority, actual.priority);
    EXPECT_EQ(expected.product, actual.product);
    EXPECT_EQ(expected.source, actual.source);
    EXPECT_EQ(expected.preferredViewer, actual.preferredViewer);
    EXPECT_EQ(expected.forcePreferredViewer, actual.forcePreferredViewer);
    EXPECT_EQ(expected.context, actual.context);
    EXPECT_EQ(expected.content, actual.content);
    EXPECT_EQ(expected.timeout, actual.timeout);
    EXPECT_EQ(expected.sessionId, actual.sessionId);
}

// A valid request with one member replaced ("@" stands for it) or left out.
const std::wstring kRequestTemplate =
    LR"({"id":"alert-1","instanceId":"17","priority":"P2","product":"prod","content":"c","timeout":45,)"
    LR"("sessionId":2,"source":"web","forcePreferredViewer":true,"preferredViewer":["v1","v2"],"context":{"title":"t"}})";

std::wstring requestWith(const std::wstring& member, const std::wstring& json)
{
    const std::wstring key = L"\"" + member + L"\":";
    std::wstring text = kRequestTemplate;
    const size_t at = text.find(key);
    size_t end = at + key.size();
    int depth = 0;
    bool inString = false;
    for (; end < text.size(); ++end) {
        const wchar_t c = text[end];
        if (inString) {
            inString = c != L'"';
            continue;
        }
        if (c == L'"')
            inString = true;
        else if (c == L'{' || c == L'[')
            ++depth;
        else if (c == L'}' || c == L']') {
            if (depth == 0)
                break;
            --depth;
        } else if (c == L',' && depth == 0)
            break;
    }
    if (json.empty()) {
        // Drop the member together with one comma.
        if (text[end] == L',')
            ++end;
        else if (text[at - 1] == L',')
            return text.erase(at - 1, end - at + 1);
        return text.erase(at, end - at);
    }
    return text.replace(at + key.size(), end - at - key.size(), json);
}

TEST(AlertInfo, DefaultRecordIsWrittenWithItsDefaultsAndReadsBack)
{
    const int64_t before = nowSince1970();
    const AlertInfo info;
    const int64_t after = nowSince1970();
    EXPECT_LE(before, info.creationTime);
    EXPECT_GE(after, info.creationTime);

    const std::wstring json = AlertInfo::toJson(info);
    EXPECT_EQ(LR"({"id":"","instanceId":"","priority":"P3","product":"","content":"","timeout":30,"sessionId":0,)"
              LR"("source":"client","forcePreferredViewer":false,"context":{}})",
              json);
    AlertInfo back;
    back.preferredViewer.clear();
    ASSERT_TRUE(AlertInfo::fromJson(json, back));
    EXPECT_TRUE(back.preferredViewer.empty());
    AlertInfo expected = info;
    expected.context = L"{}"; // an empty context is written as the empty object
    expectSameFields(expected, back);
}

TEST(AlertInfo, FullRecordIsWrittenInMemberOrderAndReadsBackWhole)
{
    AlertInfo info;
    info.alertId = L"id \"quoted\" {braces}";
    info.instanceId = L"42";
    info.priority = 1;
    info.product = L"prod\x00e9";
    info.source = AlertSource::Web;
    info.preferredViewer = {L"first", L"second"};
    info.forcePreferredViewer = true;
    info.context = LR"( { "title" : "T", "n" : [1, 2.5] } )";
    info.content = L"<b>content</b>\n";
    info.timeout = 4294967295u;
    info.sessionId = 3;

    const std::wstring json = AlertInfo::toJson(info);
    EXPECT_EQ(L"{\"id\":\"id \\\"quoted\\\" {braces}\",\"instanceId\":\"42\",\"priority\":\"P1\","
              L"\"product\":\"prod\x00e9\",\"content\":\"<b>content</b>\\n\",\"timeout\":4294967295,"
              L"\"sessionId\":3,\"source\":\"web\",\"forcePreferredViewer\":true,"
              L"\"preferredViewer\":[\"first\",\"second\"],\"context\":{\"title\":\"T\",\"n\":[1,2.5]}}",
              json);

    AlertInfo back;
    ASSERT_TRUE(AlertInfo::fromJson(json, back));
    info.context = LR"({"title":"T","n":[1,2.5]})"; // read back in its compact form
    expectSameFields(info, back);
}

TEST(AlertInfo, ContextThatIsNotAnObjectIsWrittenAsAnEmptyObject)
{
    for (const wchar_t* context : {L"", L"not json", L"[1,2]", L"\"text\"", L"{\"a\":"}) {
        AlertInfo info;
        info.context = context;
        const std::wstring json = AlertInfo::toJson(info);
        EXPECT_NE(std::wstring::npos, json.find(L",\"context\":{}}")) << narrow(context);
    }
}

TEST(AlertInfo, PriorityIsAPFollowedByANumberFromOneToThree)
{
    const struct {
        const wchar_t* text;
        int32_t read; // 0: rejected
    } cases[] = {
        {L"P1", 1},   {L"P2", 2},     {L"P3", 3},     {L"P2x", 2},    {L"P +2", 2},   {L"P\\t3", 3},
        {L"P03", 3},  {L"P0", 0},     {L"P4", 0},     {L"p1", 0},     {L"1", 0},      {L"P", 0},
        {L"", 0},     {L"P-1", 0},    {L"Px1", 0},    {L" P1", 0},    {L"P+", 0},
        {L"P99999999999999999999999", 0}, {L"P-99999999999999999999999", 0}, {L"P4294967298", 0},
    };
    for (const auto& c : cases) {
        AlertInfo info;
        const bool read = AlertInfo::fromJson(requestWith(L"priority", L"\"" + std::wstring(c.text) + L"\""), info);
        EXPECT_EQ(c.read != 0, read) << narrow(c.text);
        if (c.read != 0) {
            EXPECT_EQ(c.read, info.priority) << narrow(c.text);
        }
    }
    AlertInfo info;
    EXPECT_FALSE(AlertInfo::fromJson(requestWith(L"priority", L"2"), info));
}

// Each member missing ("") or replaced: whether the request is read, and
// what the record then holds.
TEST(AlertInfo, RequiredMembersAreCheckedAndOptionalOnesKeepTheirDefaults)
{
    AlertInfo intact;
    ASSERT_TRUE(AlertInfo::fromJson(kRequestTemplate, intact));
    EXPECT_EQ(L"alert-1", intact.alertId);
    EXPECT_EQ(L"17", intact.instanceId);
    EXPECT_EQ(2, intact.priority);
    EXPECT_EQ(L"prod", intact.product);
    EXPECT_EQ(L"c", intact.content);
    EXPECT_EQ(45u, intact.timeout);
    EXPECT_EQ(2u, intact.sessionId);
    EXPECT_EQ(AlertSource::Web, intact.source);
    EXPECT_TRUE(intact.forcePreferredViewer);
    EXPECT_EQ((std::vector<std::wstring>{L"v1", L"v2"}), intact.preferredViewer);
    EXPECT_EQ(LR"({"title":"t"})", intact.context);

    const struct {
        const wchar_t* member;
        const wchar_t* json;
        bool read;
    } cases[] = {
        {L"id", L"", false},
        {L"id", L"1", false},
        {L"instanceId", L"", false},
        {L"instanceId", L"17", false},
        {L"priority", L"", false},
        {L"product", L"", false},
        {L"product", L"null", false},
        {L"content", L"", true},
        {L"content", L"5", true},
        {L"timeout", L"", true},
        {L"timeout", L"-1", true},
        {L"timeout", L"1.5", true},
        {L"timeout", L"4294967296", true},
        {L"timeout", L"\"60\"", true},
        {L"sessionId", L"", true},
        {L"sessionId", L"-1", true},
        {L"sessionId", L"4294967296", true},
        {L"source", L"", false},
        {L"source", L"\"Client\"", false},
        {L"source", L"\"unknown\"", false},
        {L"source", L"1", false},
        {L"source", L"\"client\"", true},
        {L"forcePreferredViewer", L"", false},
        {L"forcePreferredViewer", L"\"true\"", false},
        {L"forcePreferredViewer", L"1", false},
        {L"preferredViewer", L"", true},
        {L"preferredViewer", L"[]", true},
        {L"preferredViewer", L"\"v1\"", false},
        {L"preferredViewer", L"[\"v1\",2]", false},
        {L"context", L"", false},
        {L"context", L"\"{}\"", false},
        {L"context", L"[{}]", false},
        {L"context", L"null", false},
        {L"context", L"{}", true},
    };
    for (const auto& c : cases) {
        const std::wstring text = requestWith(c.member, c.json);
        SCOPED_TRACE(narrow(text));
        AlertInfo info;
        EXPECT_EQ(c.read, AlertInfo::fromJson(text, info));
    }

    // What a read request holds where a member was missing or mistyped.
    AlertInfo info;
    ASSERT_TRUE(AlertInfo::fromJson(requestWith(L"content", L"5"), info));
    EXPECT_EQ(L"", info.content);
    for (const wchar_t* timeout : {L"", L"-1", L"1.5", L"4294967296", L"\"60\""}) {
        AlertInfo t;
        ASSERT_TRUE(AlertInfo::fromJson(requestWith(L"timeout", timeout), t));
        EXPECT_EQ(30u, t.timeout) << narrow(timeout);
    }
    for (const wchar_t* session : {L"", L"-1", L"4294967296"}) {
        AlertInfo s;
        ASSERT_TRUE(AlertInfo::fromJson(requestWith(L"sessionId", session), s));
        EXPECT_EQ(0u, s.sessionId) << narrow(session);
    }
    AlertInfo noViewers;
    ASSERT_TRUE(AlertInfo::fromJson(requestWith(L"preferredViewer", L""), noViewers));
    EXPECT_TRUE(noViewers.preferredViewer.empty());
    AlertInfo client;
    ASSERT_TRUE(AlertInfo::fromJson(requestWith(L"source", L"\"client\""), client));
    EXPECT_EQ(AlertSource::Client, client.source);
}

TEST(AlertInfo, TextThatIsNotARequestObjectIsRefused)
{
    for (const wchar_t* text : {L"", L"[]", L"\"x\"", L"{", L"{\"id\":\"a\"}"}) {
        AlertInfo info;
        EXPECT_FALSE(AlertInfo::fromJson(text, info)) << narrow(text);
    }
}

TEST(AlertInfo, AnUnknownSourceIsWrittenAsUnknownAndNotReadBack)
{
    AlertInfo info;
    info.source = static_cast<AlertSource>(7);
    const std::wstring json = AlertInfo::toJson(info);
    EXPECT_NE(std::wstring::npos, json.find(L"\"source\":\"unknown\""));
    AlertInfo back;
    EXPECT_FALSE(AlertInfo::fromJson(json, back));
}

TEST(AlertInfo, CopiesAndMovesCarryEveryFieldAndReplaceTheWholeRecord)
{
    AlertInfo original;
    ASSERT_TRUE(AlertInfo::fromJson(kRequestTemplate, original));
    original.creationTime = 123456789;

    AlertInfo copied(original);
    expectSameFields(original, copied);
    EXPECT_EQ(123456789, copied.creationTime);

    // A rewrite replaces every field, the creation time included.
    AlertInfo rewritten;
    rewritten.alertId = L"other";
    rewritten.preferredViewer = {L"only"};
    rewritten.creationTime = 987654321;
    copied = rewritten;
    expectSameFields(rewritten, copied);
    EXPECT_EQ(987654321, copied.creationTime);

    AlertInfo moved(std::move(copied));
    expectSameFields(rewritten, moved);
    EXPECT_EQ(987654321, moved.creationTime);
    AlertInfo moveAssigned;
    moveAssigned = std::move(moved);
    expectSameFields(rewritten, moveAssigned);
    EXPECT_EQ(987654321, moveAssigned.creationTime);
}

} // namespace

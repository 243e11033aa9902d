#include "SettingsTestSupport.h"

#include "TestNames.h"

#include <rapidjson/document.h>

#include <iostream>

namespace SettingsTest {

namespace {

using Document = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;
using Value = Document::ValueType;

// A reply stuck at one status.
class FixedReply : public Ostrand::Reply {
public:
    FixedReply(int32_t status, std::shared_ptr<Ostrand::Message> message)
        : m_status(status), m_message(std::move(message))
    {
    }
    int32_t peekStatus() const override { return m_status; }
    std::shared_ptr<Ostrand::Message> getMessage() const override { return m_message; }
    int32_t getStatus() override { return m_status; }
    int32_t waitFor(const std::chrono::milliseconds) override { return m_status; }

private:
    int32_t m_status;
    std::shared_ptr<Ostrand::Message> m_message;
};

// Every element of one array has an equal element in the other, as often.
bool sameElements(const Value& expected, const Value& actual)
{
    if (!expected.IsArray() || !actual.IsArray() || expected.Size() != actual.Size())
        return false;
    std::vector<bool> used(actual.Size(), false);
    for (const Value& element : expected.GetArray()) {
        bool matched = false;
        for (rapidjson::SizeType i = 0; i < actual.Size() && !matched; ++i) {
            if (!used[i] && actual[i] == element)
                used[i] = matched = true;
        }
        if (!matched)
            return false;
    }
    return true;
}

} // namespace

void SettingsFixture::SetUp()
{
    ASSERT_TRUE(log.ready());
    control().reset();
}

void SettingsFixture::TearDown()
{
    if (!HasFailure())
        return;
    for (const TestSupport::LogLine& line : log.lines()) {
        std::cout << TestSupport::narrow(line.level + L" " + line.file + L" " + line.function + L": " + line.text)
                  << "\n";
    }
}

size_t SettingsFixture::lines(uint32_t level, const std::wstring& function, const std::wstring& text) const
{
    TestSupport::LogQuery query;
    query.level = level;
    query.file = L"SettingsManagerClient";
    query.function = function;
    query.text = text;
    return log.find(query).size();
}

size_t SettingsFixture::clientLines() const
{
    return lines(2, L"", L"") + lines(4, L"", L"");
}

MODULE_STATUS ScriptedBus::request(const std::shared_ptr<Ostrand::Message> message,
                                   std::shared_ptr<Ostrand::Reply>& reply, const std::chrono::milliseconds&)
{
    sent.push_back(message);
    if (requestStatus == 0 && giveReply)
        reply = std::make_shared<FixedReply>(replyStatus, replyMessage);
    return requestStatus;
}

::testing::AssertionResult sameJson(const std::wstring& expected, const std::wstring& actual,
                                    const wchar_t* unorderedArray)
{
    Document want, got;
    want.Parse(expected.c_str());
    got.Parse(actual.c_str());
    if (want.HasParseError())
        return ::testing::AssertionFailure() << "expected text is not JSON: " << TestSupport::narrow(expected);
    if (got.HasParseError())
        return ::testing::AssertionFailure() << "not JSON: " << TestSupport::narrow(actual);
    bool same = false;
    if (unorderedArray && want.IsObject() && got.IsObject() && want.HasMember(unorderedArray) &&
        got.HasMember(unorderedArray) && want.MemberCount() == got.MemberCount()) {
        same = sameElements(want[unorderedArray], got[unorderedArray]);
        for (auto it = want.MemberBegin(); same && it != want.MemberEnd(); ++it) {
            if (std::wstring(it->name.GetString()) != unorderedArray)
                same = got.HasMember(it->name) && got[it->name] == it->value;
        }
    } else {
        same = want == got;
    }
    if (same)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << TestSupport::narrow(expected) << "\n     got "
                                         << TestSupport::narrow(actual);
}

} // namespace SettingsTest

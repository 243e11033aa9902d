// The lines the bus classes write, read back from the file logger.
#include "BusTestSupport.h"

#include "LogFile.h"
#include "TestNames.h"
#include "dll/MessageBusLib.h"
#include "dll/ModuleException.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"
#include "message/ReplyImpl.h"
#include "wrappers/ProcessAPI.h"

#include <gtest/gtest.h>

using BusTest::RecordingShim;
using Ostrand::Message;
using Ostrand::MessageBusClient;
using Ostrand::Reply;
using TestSupport::LogFile;
using TestSupport::LogQuery;
using namespace std::chrono_literals;

namespace {

class FixedProcess : public Ostrand::ProcessAPI {
public:
    FixedProcess(DWORD process, DWORD session, bool works) : m_process(process), m_session(session), m_works(works) {}
    DWORD getCurrentProcessId() override { return m_process; }
    BOOL processIdToSessionId(DWORD, DWORD* session) override
    {
        *session = m_session;
        return m_works;
    }

private:
    DWORD m_process, m_session;
    bool m_works;
};

void expectLine(const LogFile& log, uint32_t level, const std::wstring& file, const std::wstring& function,
                const std::wstring& text)
{
    LogQuery query;
    query.level = level;
    query.file = file;
    query.function = function.substr(0, 40);
    query.text = text;
    EXPECT_EQ(1u, log.find(query).size()) << TestSupport::narrow(text);
}

} // namespace

TEST(BusLogLines, ReplyLines)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    std::promise<std::shared_ptr<Message>> late;
    auto pending = Ostrand::ReplyImpl::create(late.get_future(), 0ms);
    EXPECT_EQ(Reply::Pending, pending->waitFor(1ms));
    auto none = Ostrand::ReplyImpl::create(std::future<std::shared_ptr<Message>>(), 0ms);
    EXPECT_EQ(Reply::Failed, none->waitFor(1ms));
    auto none2 = Ostrand::ReplyImpl::create(std::future<std::shared_ptr<Message>>(), 0ms);
    EXPECT_EQ(Reply::Failed, none2->getStatus());

    class Expired : public Ostrand::ReplyClock {
    public:
        int64_t nowMs() const override { return m_reads++ == 0 ? 0 : 5000; }
        mutable int m_reads = 0;
    };
    std::promise<std::shared_ptr<Message>> never;
    auto expired = Ostrand::ReplyImpl::create(never.get_future(), 0ms, std::make_shared<Expired>());
    EXPECT_EQ(Reply::TimedOut, expired->getStatus());

    expectLine(log, 2, L"ReplyImpl", L"Ostrand::ReplyImpl::waitFor", L"Reply waitFor timed out. Returning.");
    expectLine(log, 4, L"ReplyImpl", L"Ostrand::ReplyImpl::waitFor", L"Reply future is in an invalid state. Returning.");
    expectLine(log, 4, L"ReplyImpl", L"Ostrand::ReplyImpl::getReplyMessage",
               L"Reply future is in an invalid state. Returning.");
    expectLine(log, 4, L"ReplyImpl", L"Ostrand::ReplyImpl::getReplyMessage",
               L"Reply future did not get fulfilled on time. Returning.");
}

TEST(BusLogLines, ShimLines)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    const MessageBusFunctions table{};
    int handle = 0;
    EXPECT_THROW(Ostrand::MessageBusShimImpl(nullptr, &table), Ostrand::ModuleException);
    EXPECT_THROW(Ostrand::MessageBusShimImpl(&handle, nullptr), Ostrand::ModuleException);
    Ostrand::MessageBusShim::SubscriberFunction subscriber = [](std::shared_ptr<Message>) -> uint32_t { return 0; };
    MessageWireHeader header = BusDouble::RawBusPeer::makeHeader(L"n", L"s", L"p");
    Ostrand::MessageBusShimImpl::onSubscriptionMessage(&subscriber, &header, L"n", nullptr, L"p");
    header.totalSize = 9;
    Ostrand::MessageBusShimImpl::onSubscriptionMessage(&subscriber, &header, L"n", L"s", L"p");

    const std::wstring constructor = L"Ostrand::MessageBusShimImpl::MessageBusShimImpl";
    expectLine(log, 4, L"MessageBusShimImpl", constructor, L"Invalid message bus handle. Throwing ModuleException.");
    expectLine(log, 4, L"MessageBusShimImpl", constructor,
               L"Invalid message bus functions object. Throwing ModuleException.");
    const std::wstring delivery = L"Ostrand::MessageBusShimImpl::onSubscriptionMessage";
    expectLine(log, 4, L"MessageBusShimImpl", delivery,
               L"Message bus delivered a message with a null string. Dropping it.");
    expectLine(log, 4, L"MessageBusShimImpl", delivery,
               L"Message bus delivered message n with header size 9, but its text needs 120. Dropping it.");
}

TEST(BusLogLines, ClientLines)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    auto shim = std::make_shared<RecordingShim>();
    {
        MessageBusClient found(shim, std::make_shared<FixedProcess>(4242, 3, true));
        MessageBusClient missing(shim, std::make_shared<FixedProcess>(4343, 3, false));
    }
    MessageBusClient client(shim, std::make_shared<FixedProcess>(1, 0, true));
    auto none = [](std::shared_ptr<Message>) -> uint32_t { return 0; };

    shim->publishStatuses = {MODULE_STATUS_NO_SUBSCRIBERS};
    client.publish(Message::create(L"n", L"s", L""));
    auto reply = Message::create(L"r", L"s", L"");
    reply->header()->setFlag(MESSAGE_FLAG_REPLY);
    shim->publishStatuses = {0, MODULE_STATUS_UNSUCCESSFUL};
    client.publish(reply);
    std::shared_ptr<Reply> answer;
    client.request(nullptr, answer, 10ms);
    (*shim->replyFunction)(12345, nullptr, 0);
    client.subscribeFilter(L"(", L"bad", none);
    shim->refuseSubscriptions = true;
    client.subscribe(L"name", L"alias", none);
    client.subscribeFilter(L"pat.*", L"alias2", none);
    client.unsubscribe(L"nobody");

    const std::wstring file = L"MessageBusClient";
    const std::wstring ctor = L"Ostrand::MessageBusClient::MessageBusClient";
    expectLine(log, 1, file, ctor, L"Found session id 3 for process 4242");
    expectLine(log, 4, file, ctor, L"Failed to get the session id for process 4343 - defaulting to 0");
    const std::wstring publish = L"Ostrand::MessageBusClient::internalPublish";
    expectLine(log, 4, file, publish, L"Failed to publish message. Error code 2147483662.");
    expectLine(log, 2, file, publish, L"Failed to publish non-reply copy of the message. Error code 2147483650.");
    expectLine(log, 4, file, L"Ostrand::MessageBusClient::internalRequest",
               L"Failed to make request. Error code 2147483656.");
    expectLine(log, 2, file, L"Ostrand::MessageBusClient::replyCallback", L"Reply index not found. Returning");
    expectLine(log, 4, file, L"Ostrand::MessageBusClient::subscribeFilter",
               L"subscribeFilter failed. Regex error with regex \"(\" [caught: ");
    expectLine(log, 4, file, L"Ostrand::MessageBusClient::subscribe",
               L"Failed to subscribe. Alias: alias Message name: name");
    expectLine(log, 4, file, L"Ostrand::MessageBusClient::subscribeFilter",
               L"Failed to subscribeFilter. Alias: alias2 Message nameRegex: pat.*");
    expectLine(log, 2, file, L"Ostrand::MessageBusClient::unsubscribe", L"Subscription not found. Alias: nobody.");
}

TEST(BusLogLines, LoaderLines)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    BusDouble::RawBusPeer::control().reset();
    BusDouble::RawBusPeer::control().setGetHandleStatus(MODULE_STATUS_UNSUCCESSFUL);
    EXPECT_THROW(Ostrand::MessageBusLib(), Ostrand::ModuleException);
    expectLine(log, 4, L"MessageBusLib", L"Ostrand::MessageBusLib::MessageBusLib",
               L"Failed to get message bus handle. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650). "
               L"Throwing ModuleException.");
}

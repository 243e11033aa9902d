// The broker between processes: a child process and this one exchanging
// messages, requests and settings through it; malformed frames that cost
// their sender its connection and nobody else anything; many processes and
// threads publishing at once.
#include "BrokerFrame.h"
#include "BrokerPipe.h"
#include "BusBrokerFixture.h"
#include "RawBusPeer.h"
#include "SettingsServicePeer.h"
#include "SignedLibraryTrust.h"

#include "ChildProcess.h"
#include "PackedField.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <thread>

using BusBroker::BrokerPipe;
using BusBroker::BusBrokerFixture;
using BusBroker::Envelope;
using BusBroker::Operation;
using BusDouble::RawBusPeer;
using TestSupport::field;
using namespace std::chrono_literals;

namespace {

TestSupport::ChildProcessResult runChild(const std::vector<std::wstring>& arguments)
{
    return TestSupport::runChildProcess(BusBroker::besideThisProgram(L"BrokerChild.exe"), arguments, 60s);
}

bool hasLine(const TestSupport::ChildProcessResult& result, const std::string& line)
{
    const std::vector<std::string> lines = result.lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class BusBrokerTest : public ::testing::Test {
protected:
    void SetUp() override { RawBusPeer::control().reset(); }
    void TearDown() override { EXPECT_TRUE(broker.running()) << "the broker ended during the test"; }

    // A tag no other test process uses, fit for message names and arguments.
    static std::wstring tag() { return L"T" + std::to_wstring(GetCurrentProcessId()); }

    BusBrokerFixture broker;
};

} // namespace

TEST_F(BusBrokerTest, AChildProcessAndThisOneExchangeMessagesRequestsAndSettings)
{
    const std::wstring me = tag();
    // The child's settings client loads the bus library through the trust check.
    TrustKit::trustSignedLibraries();
    SettingsPeer::SettingsServicePeer settings;
    settings.service().seed(L"Broker/" + me + L"/Seeded", L"seeded value");
    RawBusPeer peer;
    peer.subscribe(L"Broker.Ready." + me);
    peer.subscribe(L"Broker.Echo." + me);
    peer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& delivery) {
        if (delivery.header.flags & (1u << MESSAGE_FLAG_EXPECTS_REPLY))
            self.reply(delivery, L"Broker.Echoed", L"echo:" + delivery.payload);
    });

    TestSupport::ChildProcessResult child;
    std::thread running([&]() { child = runChild({L"exchange", me}); });
    RawBusPeer::Delivery ready;
    const bool childReady = peer.waitForDelivery(ready, 30s);
    if (childReady) {
        EXPECT_EQ(L"Broker.Ready." + me, ready.name);
        EXPECT_EQ(0u, peer.request(L"Broker.Ask." + me, L"from parent", 20000, 3));
    }
    running.join();
    ASSERT_TRUE(childReady) << child.output;

    RawBusPeer::Answer answer;
    ASSERT_TRUE(peer.waitForAnswer(answer, 1s));
    EXPECT_EQ(0u, answer.status);
    EXPECT_EQ(3u, answer.replyIndex);
    EXPECT_EQ(L"answered:from parent", answer.reply.payload);
    EXPECT_EQ(1u << MESSAGE_FLAG_REPLY, field(answer.reply.header.flags) & 0xFFu);

    EXPECT_TRUE(child.finished);
    EXPECT_EQ(0u, child.exitCode) << child.output;
    EXPECT_TRUE(hasLine(child, "asked from parent")) << child.output;
    EXPECT_TRUE(hasLine(child, "request 0")) << child.output;
    EXPECT_TRUE(hasLine(child, "reply 7 0 echo:from child")) << child.output;
    EXPECT_TRUE(hasLine(child, "nobody " + std::to_string(MODULE_STATUS_NO_SUBSCRIBERS))) << child.output;
    EXPECT_TRUE(hasLine(child, "get 1 seeded value")) << child.output;
    EXPECT_TRUE(hasLine(child, "set 1")) << child.output;
    EXPECT_EQ(L"by child", settings.service().find(L"Broker/" + me + L"/Written").value_or(L"(none)"));
}

namespace {

// A connection that speaks frames to the broker by hand.
class RawConnection {
public:
    explicit RawConnection(const std::wstring& pipeName)
        : m_pipe(BrokerPipe::connect(pipeName, 10000)), m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
    }
    bool connected() const { return m_pipe != nullptr; }
    bool write(const std::vector<uint8_t>& frame) { return m_pipe->write(frame, nullptr); }
    // The next frame, or how the connection ended. Gives up after `timeout`.
    BrokerPipe::ReadResult read(std::vector<uint8_t>& frame, std::chrono::milliseconds timeout = 10s)
    {
        m_stop.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        HANDLE stop = m_stop.get();
        std::thread timer([stop, timeout]() {
            // Ends the wait unless the frame or the end came first.
            WaitForSingleObject(stop, static_cast<DWORD>(timeout.count()));
            SetEvent(stop);
        });
        const BrokerPipe::ReadResult result = m_pipe->read(frame, stop);
        SetEvent(stop);
        timer.join();
        return result;
    }

private:
    std::unique_ptr<BrokerPipe> m_pipe;
    BusBroker::OwnedHandle m_stop;
};

std::vector<uint8_t> frameOf(Operation operation, uint64_t token, const std::wstring& name,
                             const std::wstring& payload = L"p", uint64_t sequence = 1)
{
    const Envelope envelope{static_cast<uint32_t>(operation), 0, sequence, token, 0};
    return BusBroker::encodeFrame(envelope, BusBroker::defaultHeader(name, L"s", payload), name, L"s", payload);
}

MessageWireHeader* headerIn(std::vector<uint8_t>& frame)
{
    return reinterpret_cast<MessageWireHeader*>(frame.data() + sizeof(Envelope));
}

void setTotalSize(std::vector<uint8_t>& frame, size_t size)
{
    const uint32_t total = static_cast<uint32_t>(size);
    std::memcpy(frame.data() + sizeof(Envelope) + offsetof(MessageWireHeader, totalSize), &total, sizeof(total));
}

struct Malformed {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> spoil;
};

} // namespace

TEST_F(BusBrokerTest, AMalformedFrameDropsItsSenderAndNothingElse)
{
    const std::wstring name = L"Broker.Bad." + tag();
    const std::vector<Malformed> cases = {
        {"shorter than a header and three terminators",
         [](std::vector<uint8_t>& f) { f.resize(sizeof(Envelope) + MESSAGE_HEADER_SIZE_V2 + 4); }},
        {"part of a header only", [](std::vector<uint8_t>& f) { f.resize(sizeof(Envelope) + 20); }},
        {"longer than the limit",
         [](std::vector<uint8_t>& f) {
             f.resize(BusBroker::kMaxFrameBytes + 2, 0);
             setTotalSize(f, f.size() - sizeof(Envelope));
         }},
        {"odd size",
         [](std::vector<uint8_t>& f) {
             f.push_back(0);
             setTotalSize(f, f.size() - sizeof(Envelope));
         }},
        {"payload not terminated", [](std::vector<uint8_t>& f) { f[f.size() - 2] = 'x'; }},
        {"no terminator at all",
         [](std::vector<uint8_t>& f) {
             for (size_t at = sizeof(Envelope) + MESSAGE_HEADER_SIZE_V2; at < f.size(); at += 2)
                 f[at] = 'x';
         }},
        {"bytes after the third terminator",
         [](std::vector<uint8_t>& f) {
             f.push_back('x');
             f.push_back(0);
             setTotalSize(f, f.size() - sizeof(Envelope));
         }},
        {"size says more", [](std::vector<uint8_t>& f) { headerIn(f)->totalSize += 2; }},
        {"size says less", [](std::vector<uint8_t>& f) { headerIn(f)->totalSize -= 2; }},
        {"version 1", [](std::vector<uint8_t>& f) { headerIn(f)->version = 1; }},
        {"version 3", [](std::vector<uint8_t>& f) { headerIn(f)->version = 3; }},
        {"extension length not 8", [](std::vector<uint8_t>& f) { headerIn(f)->session.extensionLength = 0; }},
        {"unknown operation", [](std::vector<uint8_t>& f) { f[0] = 99; }},
        {"an operation only the broker sends",
         [](std::vector<uint8_t>& f) { f[0] = static_cast<uint8_t>(Operation::Deliver); }},
        {"subscription id 0", [](std::vector<uint8_t>& f) { f[0] = static_cast<uint8_t>(Operation::Subscribe); }},
    };

    // Bystanders: one connection by hand that subscribed, and two through the library.
    RawConnection bystander(broker.pipeName());
    ASSERT_TRUE(bystander.connected());
    ASSERT_TRUE(bystander.write(frameOf(Operation::Subscribe, 1, name)));
    std::vector<uint8_t> received;
    ASSERT_EQ(BrokerPipe::ReadResult::Frame, bystander.read(received));
    BusBroker::Frame acknowledgement;
    ASSERT_EQ(BusBroker::FrameFault::None, BusBroker::decodeFrame(received.data(), received.size(), acknowledgement));
    ASSERT_EQ(static_cast<uint32_t>(Operation::Acknowledge), acknowledgement.envelope.operation);
    ASSERT_EQ(0u, acknowledgement.envelope.status);
    RawBusPeer sender, receiver;
    receiver.subscribe(name);

    for (const Malformed& malformed : cases) {
        SCOPED_TRACE(malformed.what);
        RawConnection culprit(broker.pipeName());
        ASSERT_TRUE(culprit.connected());
        std::vector<uint8_t> frame = frameOf(Operation::Publish, 0, name, L"spoilt");
        malformed.spoil(frame);
        culprit.write(frame); // may fail once the broker has hung up on a long frame
        EXPECT_EQ(BrokerPipe::ReadResult::Closed, culprit.read(received)) << "the sender keeps its connection";

        const std::wstring payload = std::wstring(L"after ") + TestSupport::widen(malformed.what);
        ASSERT_EQ(0u, sender.publish(name, L"s", payload));
        RawBusPeer::Delivery delivery;
        ASSERT_TRUE(receiver.waitForDelivery(delivery, 10s));
        EXPECT_EQ(payload, delivery.payload) << "a spoilt frame was routed";
        ASSERT_EQ(BrokerPipe::ReadResult::Frame, bystander.read(received));
        BusBroker::Frame routed;
        ASSERT_EQ(BusBroker::FrameFault::None, BusBroker::decodeFrame(received.data(), received.size(), routed));
        EXPECT_EQ(static_cast<uint32_t>(Operation::Deliver), routed.envelope.operation);
        EXPECT_EQ(1u, routed.envelope.token);
        EXPECT_EQ(payload, routed.payload);
    }
    EXPECT_TRUE(broker.running());
}

namespace {

// A broker that keeps little for a client that does not read.
class UnreadLimitTest : public ::testing::Test {
protected:
    static const size_t kLimit = 1u << 20;
    void SetUp() override { RawBusPeer::control().reset(); }
    BusBrokerFixture broker{L"", kLimit};
};

} // namespace

TEST_F(UnreadLimitTest, AClientThatStopsReadingLosesItsConnectionAlone)
{
    const std::wstring name = L"Broker.Flood." + std::to_wstring(GetCurrentProcessId());
    RawConnection sleeper(broker.pipeName());
    ASSERT_TRUE(sleeper.connected());
    ASSERT_TRUE(sleeper.write(frameOf(Operation::Subscribe, 1, name)));
    RawBusPeer sender, receiver;
    receiver.subscribe(name);

    // More than the broker keeps for one client, sent while the sleeper reads nothing. Each frame
    // waits for the reading receiver, so that only the sleeper falls behind: a receiver whose
    // reading thread a busy machine starves would otherwise pass the limit too.
    const std::wstring big(32 * 1024, L'x');
    const size_t frames = kLimit / (big.size() * sizeof(wchar_t)) + 8;
    for (size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(0u, sender.publish(name, L"s", big));
        RawBusPeer::Delivery delivery;
        ASSERT_TRUE(receiver.waitForDelivery(delivery, 20s)) << i;
    }
    // What was already in the pipe may still be read, then the connection ends.
    std::vector<uint8_t> received;
    BrokerPipe::ReadResult result = BrokerPipe::ReadResult::Frame;
    for (size_t i = 0; i <= frames && result == BrokerPipe::ReadResult::Frame; ++i)
        result = sleeper.read(received);
    EXPECT_EQ(BrokerPipe::ReadResult::Closed, result);

    ASSERT_EQ(0u, sender.publish(name, L"s", L"still here"));
    RawBusPeer::Delivery delivery;
    ASSERT_TRUE(receiver.waitForDelivery(delivery, 10s));
    EXPECT_EQ(L"still here", delivery.payload);
    EXPECT_TRUE(broker.running());
}

TEST_F(BusBrokerTest, ManyProcessesAndThreadsPublishAtOnceNothingLostOrDuplicated)
{
    const int kChildren = 4;
    const int kThreads = 4;
    const int kCount = 50;
    RawBusPeer byName, byPattern;
    byName.subscribe(L"Broker.Load");
    byPattern.subscribeFilter(L"Broker\\.Lo.d");
    byName.subscribe(L"Broker.Load.End");
    byPattern.subscribe(L"Broker.Load.End");

    std::set<std::wstring> expected;
    std::vector<TestSupport::ChildProcessResult> children(kChildren);
    std::vector<std::thread> running;
    for (int c = 0; c < kChildren; ++c) {
        const std::wstring childTag = L"c" + std::to_wstring(c);
        for (int t = 0; t < kThreads; ++t)
            for (int n = 0; n < kCount; ++n)
                expected.insert(childTag + L"/" + std::to_wstring(t) + L"/" + std::to_wstring(n));
        running.emplace_back([&, c, childTag]() {
            children[c] = runChild({L"publish", childTag, std::to_wstring(kThreads), std::to_wstring(kCount)});
        });
    }
    // This process publishes at the same time, from threads of its own.
    for (int t = 0; t < kThreads; ++t) {
        for (int n = 0; n < kCount; ++n)
            expected.insert(L"here/" + std::to_wstring(t) + L"/" + std::to_wstring(n));
        running.emplace_back([t]() {
            RawBusPeer peer;
            for (int n = 0; n < kCount; ++n)
                EXPECT_EQ(0u, peer.publish(L"Broker.Load", L"here", L"here/" + std::to_wstring(t) + L"/" +
                                                                        std::to_wstring(n)));
        });
    }
    for (std::thread& thread : running)
        thread.join();
    for (const TestSupport::ChildProcessResult& child : children) {
        EXPECT_TRUE(child.finished);
        EXPECT_EQ(0u, child.exitCode) << child.output;
        EXPECT_TRUE(hasLine(child, "published")) << child.output;
    }
    // Every publisher closed its connection, which the broker does only after
    // routing what came before; this last message therefore arrives last.
    {
        RawBusPeer closing;
        ASSERT_EQ(0u, closing.publish(L"Broker.Load.End", L"here", L""));
    }
    for (RawBusPeer* subscriber : {&byName, &byPattern}) {
        std::map<std::wstring, int> seen;
        RawBusPeer::Delivery delivery;
        bool ended = false;
        while (!ended && subscriber->waitForDelivery(delivery, 20s)) {
            if (delivery.name == L"Broker.Load.End")
                ended = true;
            else
                ++seen[delivery.payload];
        }
        // A delivery thread slowed down may still be handing over one that came before.
        while (subscriber->waitForDelivery(delivery, 500ms))
            ++seen[delivery.payload];
        ASSERT_TRUE(ended) << "missing the last message; " << seen.size() << " seen";
        EXPECT_EQ(expected.size(), seen.size());
        size_t duplicated = 0;
        size_t unexpected = 0;
        for (const auto& entry : seen) {
            duplicated += entry.second > 1 ? 1 : 0;
            unexpected += expected.count(entry.first) ? 0 : 1;
        }
        EXPECT_EQ(0u, duplicated);
        EXPECT_EQ(0u, unexpected);
    }
}

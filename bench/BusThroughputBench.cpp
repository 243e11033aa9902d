// Prints how many messages and request/reply round trips per second pass
// through MessageBusClient over the bus library double, the same through the
// raw table without the client, and the ratios of the two.
#include "RawBusPeer.h"

#include "message/MessageBusClient.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

using BusDouble::RawBusPeer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const int kMessages = 20000;
const int kRoundTrips = 2000;

class Countdown {
public:
    explicit Countdown(int count) : m_left(count) {}
    void hit()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (--m_left == 0)
            m_done.notify_all();
    }
    bool wait()
    {
        std::unique_lock<std::mutex> guard(m_lock);
        return m_done.wait_for(guard, 120s, [this]() { return m_left <= 0; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    int m_left;
};

double perSecond(int count, Clock::duration elapsed)
{
    return count / std::chrono::duration<double>(elapsed).count();
}

double clientMessages()
{
    Ostrand::MessageBusClient sender, receiver;
    Countdown left(kMessages);
    receiver.subscribe(L"bench.message", [&left](std::shared_ptr<Ostrand::Message>) -> uint32_t {
        left.hit();
        return 0;
    });
    const auto start = Clock::now();
    for (int i = 0; i < kMessages; ++i)
        sender.publish(Ostrand::Message::create(L"bench.message", L"bench", L"{\"n\":1}"));
    if (!left.wait())
        return 0;
    return perSecond(kMessages, Clock::now() - start);
}

double rawMessages()
{
    RawBusPeer sender, receiver;
    Countdown left(kMessages);
    receiver.subscribe(L"bench.message");
    receiver.setResponder([&left](RawBusPeer&, const RawBusPeer::Delivery&) { left.hit(); });
    const auto start = Clock::now();
    for (int i = 0; i < kMessages; ++i)
        sender.publish(L"bench.message", L"bench", L"{\"n\":1}");
    if (!left.wait())
        return 0;
    return perSecond(kMessages, Clock::now() - start);
}

double clientRoundTrips()
{
    auto answerer = std::make_shared<Ostrand::MessageBusClient>();
    Ostrand::MessageBusClient asker;
    answerer->subscribe(L"bench.request", [answerer](std::shared_ptr<Ostrand::Message> request) -> uint32_t {
        return answerer->publish(request->createReply(L"bench.reply", L"bench", L"{}"));
    });
    const auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        std::shared_ptr<Ostrand::Reply> reply;
        if (asker.request(Ostrand::Message::create(L"bench.request", L"bench", L"{}"), reply, 5000ms) != 0 ||
            reply->getStatus() != Ostrand::Reply::Received)
            return 0;
    }
    const double rate = perSecond(kRoundTrips, Clock::now() - start);
    answerer->unsubscribe(L"bench.request");
    return rate;
}

double rawRoundTrips()
{
    RawBusPeer asker, answerer;
    answerer.subscribe(L"bench.request");
    answerer.setResponder(
        [](RawBusPeer& self, const RawBusPeer::Delivery& request) { self.reply(request, L"bench.reply", L"{}"); });
    const auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        RawBusPeer::Answer answer;
        if (asker.request(L"bench.request", L"{}", 5000, static_cast<uint64_t>(i)) != 0 ||
            !asker.waitForAnswer(answer, 5s) || answer.status != 0)
            return 0;
    }
    return perSecond(kRoundTrips, Clock::now() - start);
}

double ratio(double part, double whole)
{
    return whole > 0 ? part / whole : 0;
}

} // namespace

int main()
{
    const double clientPublish = clientMessages();
    const double rawPublish = rawMessages();
    const double clientRequest = clientRoundTrips();
    const double rawRequest = rawRoundTrips();
    std::printf("messages per second, published and delivered: client %.0f, raw table %.0f, ratio %.2f\n",
                clientPublish, rawPublish, ratio(clientPublish, rawPublish));
    std::printf("request/reply round trips per second: client %.0f, raw table %.0f, ratio %.2f\n", clientRequest,
                rawRequest, ratio(clientRequest, rawRequest));
    return clientPublish > 0 && rawPublish > 0 && clientRequest > 0 && rawRequest > 0 ? 0 : 1;
}

// Prints how many messages and request/reply round trips per second pass
// through MessageBusClient over the bus library double, the same through the
// raw table without the client, and the ratios of the two. The four runs
// take turns, a few times over, so that the machine's load falls on both
// sides alike; the figures are the medians over the turns.
//
// Usage: bus_throughput_bench [turns, default 5]
#include "RawBusPeer.h"
#include "SignedLibraryTrust.h"

#include "message/MessageBusClient.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

using BusDouble::RawBusPeer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const int kMessages = 5000;
const int kRoundTrips = 500;

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

// Round trips per second that `asker` makes, one request at a time.
double clientAsks(Ostrand::MessageBusClient& asker)
{
    const auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        std::shared_ptr<Ostrand::Reply> reply;
        if (asker.request(Ostrand::Message::create(L"bench.request", L"bench", L"{}"), reply, 5000ms) != 0 ||
            reply->getStatus() != Ostrand::Reply::Received)
            return 0;
    }
    return perSecond(kRoundTrips, Clock::now() - start);
}

double clientRoundTrips()
{
    auto answerer = std::make_shared<Ostrand::MessageBusClient>();
    Ostrand::MessageBusClient asker;
    answerer->subscribe(L"bench.request", [answerer](std::shared_ptr<Ostrand::Message> request) -> uint32_t {
        return answerer->publish(request->createReply(L"bench.reply", L"bench", L"{}"));
    });
    const double rate = clientAsks(asker);
    answerer->unsubscribe(L"bench.request");
    return rate;
}

// The raw table's answerer replies once, or, with `copy`, as the client
// replies: the reply, then the same message as a plain one.
double rawRoundTrips(bool copy)
{
    RawBusPeer asker, answerer;
    answerer.subscribe(L"bench.request");
    answerer.setResponder([copy](RawBusPeer& self, const RawBusPeer::Delivery& request) {
        self.reply(request, L"bench.reply", L"{}", copy ? 1u << MESSAGE_FLAG_REPLY_COPIED : 0);
        if (copy)
            self.publish(L"bench.reply", L"RawBusPeer", L"{}", 1u << MESSAGE_FLAG_REPLY_COPIED);
    });
    const auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i) {
        RawBusPeer::Answer answer;
        if (asker.request(L"bench.request", L"{}", 5000, static_cast<uint64_t>(i)) != 0 ||
            !asker.waitForAnswer(answer, 5s) || answer.status != 0)
            return 0;
    }
    return perSecond(kRoundTrips, Clock::now() - start);
}

// The client asks, the raw table answers once: the asking side alone.
double clientAsksRawAnswers()
{
    RawBusPeer answerer;
    answerer.subscribe(L"bench.request");
    answerer.setResponder(
        [](RawBusPeer& self, const RawBusPeer::Delivery& request) { self.reply(request, L"bench.reply", L"{}"); });
    Ostrand::MessageBusClient asker;
    return clientAsks(asker);
}

double ratio(double part, double whole)
{
    return whole > 0 ? part / whole : 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct Side {
    std::vector<double> rates;
    double median() const { return ::median(rates); }
    double low() const { return rates.empty() ? 0 : *std::min_element(rates.begin(), rates.end()); }
    double high() const { return rates.empty() ? 0 : *std::max_element(rates.begin(), rates.end()); }
};

void print(const char* what, const Side& client, const Side& raw)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < client.rates.size() && i < raw.rates.size(); ++i)
        ratios.push_back(ratio(client.rates[i], raw.rates[i]));
    std::printf("%s per second: client %.0f (%.0f..%.0f), raw table %.0f (%.0f..%.0f), client/raw %.2f\n", what,
                client.median(), client.low(), client.high(), raw.median(), raw.low(), raw.high(), median(ratios));
}

} // namespace

int main(int argc, char** argv)
{
    const long turns = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 5;
    if (turns <= 0) {
        std::fprintf(stderr, "usage: bus_throughput_bench [turns]\n");
        return 2;
    }
    // The bus double is signed with the trust kit; the SDK's loader takes it
    // only once this process trusts the kit, as the tests that use it do.
    TrustKit::trustSignedLibraries();
    // One turn first, unmeasured: the first client of the process also
    // makes the logger and loads the bus library.
    clientMessages();
    rawMessages();

    Side clientPublish, rawPublish, clientRequest, rawRequest, rawCopied, clientAsking;
    for (long turn = 0; turn < turns; ++turn) {
        clientPublish.rates.push_back(clientMessages());
        rawPublish.rates.push_back(rawMessages());
        clientRequest.rates.push_back(clientRoundTrips());
        rawRequest.rates.push_back(rawRoundTrips(false));
        rawCopied.rates.push_back(rawRoundTrips(true));
        clientAsking.rates.push_back(clientAsksRawAnswers());
    }
    std::printf("%ld turns; median (lowest..highest) over the turns\n", turns);
    print("messages published and delivered", clientPublish, rawPublish);
    print("request/reply round trips", clientRequest, rawRequest);
    // Where the client's round trip goes: the answer's plain copy, which the
    // client always publishes, and the asking side on its own.
    print("round trips, raw answerer also publishing the plain copy", rawCopied, rawRequest);
    print("round trips, client asking and raw table answering", clientAsking, rawRequest);
    for (const Side* side : {&clientPublish, &rawPublish, &clientRequest, &rawRequest, &rawCopied, &clientAsking})
        if (side->low() <= 0)
            return 1;
    return 0;
}

// The other process of the broker tests. Started with ONDREL_BROKER_PIPE set,
// it talks to the test process through the bus library double beside it and
// prints what it saw, one line per fact.
//   BrokerChild exchange <tag>: answers "Broker.Ask.<tag>" once, asks
//     "Broker.Echo.<tag>", asks nobody, reads and writes a setting.
//   BrokerChild publish <tag> <threads> <count>: every thread publishes
//     <count> messages "Broker.Load" with the payload <tag>/<thread>/<n>.
#include "RawBusPeer.h"

#include "settings/SettingsManagerClient.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using BusDouble::RawBusPeer;
using namespace std::chrono_literals;

namespace {

std::vector<std::wstring> arguments()
{
    std::vector<std::wstring> result;
    int count = 0;
    wchar_t** list = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 1; list && i < count; ++i)
        result.push_back(list[i]);
    LocalFree(list);
    return result;
}

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

void say(const std::string& line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int exchange(const std::wstring& tag)
{
    RawBusPeer peer;
    peer.setResponder([](RawBusPeer& self, const RawBusPeer::Delivery& delivery) {
        if (delivery.header.flags & (1u << MESSAGE_FLAG_EXPECTS_REPLY))
            self.reply(delivery, L"Broker.Answer", L"answered:" + delivery.payload);
    });
    if (peer.subscribe(L"Broker.Ask." + tag) == 0)
        return 3;
    peer.publish(L"Broker.Ready." + tag, L"child", L"");

    RawBusPeer::Delivery asked;
    say(peer.waitForDelivery(asked, 20s) ? "asked " + narrow(asked.payload) : "never asked");

    say("request " + std::to_string(peer.request(L"Broker.Echo." + tag, L"from child", 20000, 7)));
    RawBusPeer::Answer answer;
    if (peer.waitForAnswer(answer, 20s))
        say("reply " + std::to_string(answer.replyIndex) + " " + std::to_string(answer.status) + " " +
            narrow(answer.reply.payload));
    else
        say("no reply");
    say("nobody " + std::to_string(peer.request(L"Broker.Nobody." + tag, L"", 20000, 8)));

    // The settings client opens a connection of its own through the SDK's bus client.
    Ostrand::SettingsManagerClient settings;
    std::wstring value;
    const bool read = settings.getProperty(L"Broker/" + tag + L"/Seeded", value, 10000ms);
    say("get " + std::to_string(read) + " " + narrow(value));
    say("set " + std::to_string(settings.setProperty(L"Broker/" + tag + L"/Written", L"by child", 10000ms)));
    return 0;
}

int publish(const std::wstring& tag, int threads, int count)
{
    // Half the threads share one connection, the others have one each.
    RawBusPeer shared;
    std::vector<std::thread> running;
    for (int t = 0; t < threads; ++t) {
        running.emplace_back([&, t]() {
            std::unique_ptr<RawBusPeer> own;
            if (t % 2)
                own = std::make_unique<RawBusPeer>();
            RawBusPeer& peer = own ? *own : shared;
            for (int n = 0; n < count; ++n) {
                const std::wstring payload = tag + L"/" + std::to_wstring(t) + L"/" + std::to_wstring(n);
                if (peer.publish(L"Broker.Load", L"child", payload) != 0)
                    say("publish failed " + narrow(payload));
            }
        });
    }
    for (std::thread& thread : running)
        thread.join();
    say("published");
    return 0;
}

} // namespace

int main()
{
    const std::vector<std::wstring> args = arguments();
    try {
        if (args.size() == 2 && args[0] == L"exchange")
            return exchange(args[1]);
        if (args.size() == 4 && args[0] == L"publish")
            return publish(args[1], std::stoi(args[2]), std::stoi(args[3]));
    } catch (const std::exception& error) {
        say(std::string("failed: ") + error.what());
        return 4;
    }
    say("usage: BrokerChild exchange <tag> | publish <tag> <threads> <count>");
    return 2;
}

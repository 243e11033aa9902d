// Alert requests read and written per second through the alert record and
// the JSON document, against the same text read and written by the JSON
// library directly. Both run in turns within one process, so the machine's
// load falls on both alike.
//
// Usage: alert_json_bench [milliseconds per turn, default 300] [turns, default 5]

#include "alert/AlertInfo.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

const std::wstring kRequest =
    LR"({"id":"{6A1F3C2E-0B7D-4E58-9C41-2F6B8D0E7A93}","instanceId":"1048576","priority":"P2",)"
    LR"("product":"product.security","content":"","timeout":60,"sessionId":1,"source":"client",)"
    LR"("forcePreferredViewer":false,"preferredViewer":["viewer.toast","viewer.window"],)"
    LR"("context":{"title":"Your protection is out of date","category":"security",)"
    LR"("shortdescription":"Definitions are 7 days old.","longdescription":"Update now to stay protected \u2013 it takes a minute.",)"
    LR"("langid":"en-US","detailscontent":"details","defaultcontent":"default","width":400,"timeout":60,)"
    LR"("timeoutactions":[{"messagename":"product.alert.timeout","payload":"{}"}],)"
    LR"("options":[{"id":"remember","text":"Don't show again","selected":false}],)"
    LR"("actions":[{"id":"update","text":"Update now","default":true,)"
    LR"("defaultmessage":{"messagename":"product.update","payload":"{\"now\":true}"}},)"
    LR"({"id":"later","text":"Later","defaultmessage":{"messagename":"product.later","payload":""}}]}})";

// One request through the alert record: read, then written back.
size_t throughModel()
{
    Kest::AlertInfo info;
    if (!Kest::AlertInfo::fromJson(kRequest, info))
        return 0;
    return Kest::AlertInfo::toJson(info).size();
}

// The same text read into the library's document and written compactly.
size_t direct()
{
    using Encoding = rapidjson::UTF16<wchar_t>;
    rapidjson::GenericDocument<Encoding> document;
    document.Parse(kRequest.c_str());
    if (document.HasParseError())
        return 0;
    rapidjson::GenericStringBuffer<Encoding> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Encoding>, Encoding, Encoding> writer(buffer);
    document.Accept(writer);
    return std::wstring(buffer.GetString(), buffer.GetSize() / sizeof(wchar_t)).size();
}

struct Tally {
    unsigned long long requests = 0;
    double seconds = 0;
    size_t checksum = 0;
    double perSecond() const { return seconds > 0 ? static_cast<double>(requests) / seconds : 0; }
};

void runTurn(size_t (*step)(), std::chrono::milliseconds length, Tally& tally)
{
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + length;
    Clock::time_point now = start;
    while (now < end) {
        // Reading the clock costs little next to a batch of 16 requests.
        for (int i = 0; i < 16; ++i)
            tally.checksum += step();
        tally.requests += 16;
        now = Clock::now();
    }
    tally.seconds += std::chrono::duration<double>(now - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    const long turnMs = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 300;
    const long turns = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 5;
    if (turnMs <= 0 || turns <= 0) {
        std::fprintf(stderr, "usage: alert_json_bench [milliseconds per turn] [turns]\n");
        return 2;
    }
    if (throughModel() == 0 || direct() == 0) {
        std::fprintf(stderr, "the sample request does not parse\n");
        return 1;
    }

    Tally model;
    Tally library;
    const std::chrono::milliseconds length(turnMs);
    for (long turn = 0; turn < turns; ++turn) {
        runTurn(throughModel, length, model);
        runTurn(direct, length, library);
    }

    std::printf("Sample request: %zu UTF-16 units; %ld turns of %ld ms each side\n", kRequest.size(), turns, turnMs);
    std::printf("Through Kest::AlertInfo and Ostrand::JSONFormatter: %12.0f requests/s (%llu in %.2f s)\n",
                model.perSecond(), model.requests, model.seconds);
    std::printf("rapidjson directly, parse and write:              %12.0f requests/s (%llu in %.2f s)\n",
                library.perSecond(), library.requests, library.seconds);
    std::printf("Ratio, direct to model:                           %12.2f\n",
                model.perSecond() > 0 ? library.perSecond() / model.perSecond() : 0.0);
    // Keeps the work from being optimised away.
    std::printf("(checksum %zu)\n", model.checksum + library.checksum);
    return 0;
}

// The road of one alert through Sentrel.dll, driven through its module table
// in this process with the test peers on the bus double: a product's show
// request to the ".Queued." reply and to the viewer's Show request, each
// alert on an idle service, against a bus round trip between two raw peers
// measured between the alerts. Also the process's CPU time over 10 s idle
// before the service is loaded and over 10 s idle after it started: the
// difference is the service's.
//
// Usage: alert_road_bench [alerts, default 25]. Run through the wrapper
// build/bench/alert-road-bench, which selects the session API double.
#include "ChildProcess.h"
#include "PluginDoubleControl.h"
#include "RawBusPeer.h"
#include "ScratchFolder.h"
#include "SettingsServicePeer.h"
#include "SignedLibraryTrust.h"
#include "ViewerDouble.h"
#include "WtsDoubleControl.h"

#include "ModuleFunctions.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::wstring kViewer = L"RoadViewer";
const std::wstring kProduct = L"RoadProduct";
const std::wstring kPluginFile = L"roadplugin.dll";
const uint32_t kSession = 3;

MODULE_STATUS managerCallback(void*, void*, void*, void*)
{
    return MODULE_STATUS_SUCCESS;
}

std::wstring jsonText(const std::wstring& text)
{
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        if (c == L'\\')
            quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}

std::wstring showRequest(const std::wstring& alertId, const std::wstring& instanceId)
{
    return L"{\"id\":" + jsonText(alertId) + L",\"instanceId\":" + jsonText(instanceId) +
           L",\"priority\":\"P2\",\"product\":" + jsonText(kProduct) +
           L",\"source\":\"client\",\"forcePreferredViewer\":true,\"preferredViewer\":[" + jsonText(kViewer) +
           L"],\"context\":{\"title\":\"road\"},\"timeout\":30,\"sessionId\":" + std::to_wstring(kSession) + L"}";
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double processCpuMs()
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

double idleCpuMs()
{
    const double before = processCpuMs();
    std::this_thread::sleep_for(10s);
    return processCpuMs() - before;
}

struct Spread {
    std::vector<double> values;
    double at(double fraction) const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[static_cast<size_t>(fraction * (sorted.size() - 1) + 0.5)];
    }
};

class Product {
public:
    // Sends a request and waits for its reply; the reply's name and payload.
    bool ask(const std::wstring& name, const std::wstring& payload, std::wstring& replyName, std::wstring& reply)
    {
        const uint64_t index = m_next++;
        if (m_peer.request(name, payload, 60000, index) != 0)
            return false;
        BusDouble::RawBusPeer::Answer answer;
        if (!m_peer.waitForAnswer(answer, 30s) || answer.status != 0 || answer.replyIndex != index)
            return false;
        replyName = answer.reply.name;
        reply = answer.reply.payload;
        return true;
    }

private:
    BusDouble::RawBusPeer m_peer;
    uint64_t m_next = 1;
};

// One round trip between two raw peers, in milliseconds; 0 on failure.
double rawRoundTripMs(BusDouble::RawBusPeer& asker, uint64_t index)
{
    const auto start = Clock::now();
    BusDouble::RawBusPeer::Answer answer;
    if (asker.request(L"road.bench.request", L"{}", 5000, index) != 0 || !asker.waitForAnswer(answer, 5s))
        return 0;
    return ms(Clock::now() - start);
}

} // namespace

int main(int argc, char** argv)
{
    const long alerts = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 25;
    if (alerts < 1) {
        std::fprintf(stderr, "usage: alert_road_bench [alerts]\n");
        return 2;
    }
    TrustKit::trustSignedLibraries();
    WtsDouble::WtsDoubleControl wts;
    if (!wts.ready()) {
        std::fprintf(stderr, "the session API double's state cannot be made\n");
        return 1;
    }
    BusDouble::RawBusPeer::control().reset();
    wts.setActiveSession(kSession);
    wts.setLoggedOnSecondsAgo(kSession, 24 * 3600);

    PluginDouble::Control plugin;
    TestSupport::ScratchFolder folder;
    plugin.content(L"shown by {viewer}");
    PluginDouble::Control::install(folder.path(), kPluginFile);
    SettingsPeer::SettingsServicePeer settings;
    settings.service().seed(L"Sentrel/Viewer/" + kViewer, L"{}");
    settings.service().seed(L"Sentrel/Product/" + kProduct, L"{\"pluginPath\":" + jsonText(folder.path()) +
                                                                L",\"pluginFile\":" + jsonText(kPluginFile) + L"}");
    ViewerDouble::Viewer viewer{kViewer};
    Product product;
    BusDouble::RawBusPeer asker, answerer;
    answerer.subscribe(L"road.bench.request");
    answerer.setResponder([](BusDouble::RawBusPeer& self, const BusDouble::RawBusPeer::Delivery& request) {
        self.reply(request, L"road.bench.reply", L"{}");
    });

    const double peersIdleCpu = idleCpuMs();

    HMODULE library = LoadLibraryW(TestSupport::buildMachinePath(SENTREL_PATH).c_str());
    if (!library) {
        std::fprintf(stderr, "Sentrel.dll does not load (%lu)\n", GetLastError());
        return 1;
    }
    if (!WtsDouble::WtsDoubleControl::doubleLoaded()) {
        std::fprintf(stderr, "the session API double is not loaded: run build/bench/alert-road-bench\n");
        return 1;
    }
    const auto createObject =
        reinterpret_cast<CreateObjectFunction>(reinterpret_cast<void*>(GetProcAddress(library, "CreateObject")));
    const auto* table = createObject ? static_cast<const ModuleFunctions*>(createObject(MODULE_LIBRARY_VERSION_NUM))
                                     : nullptr;
    MODULE_HANDLE handle = nullptr;
    const std::wstring moduleName = L"SentrelRoadBench";
    if (!table || table->NewModule(&handle, moduleName.c_str()) != 0 ||
        table->InitializeModule(handle, moduleName.c_str(), L"", 0, nullptr, nullptr, nullptr, &managerCallback) != 0 ||
        table->StartModule(handle) != 0) {
        std::fprintf(stderr, "the service does not start\n");
        return 1;
    }
    const double serviceIdleCpu = idleCpuMs();

    Spread queued, shown, roundTrip;
    uint64_t rawIndex = 1;
    bool failed = false;
    for (long i = 0; i < alerts && !failed; ++i) {
        for (int k = 0; k < 3; ++k)
            roundTrip.values.push_back(rawRoundTripMs(asker, rawIndex++));
        std::wstring name, instance;
        if (!product.ask(L"Sentrel.Alert.GetId", L"", name, instance)) {
            failed = true;
            break;
        }
        const std::wstring alertId = L"{ROAD-" + std::to_wstring(i) + L"}";
        const auto start = Clock::now();
        std::wstring payload;
        if (!product.ask(L"Sentrel.Alert.Show." + instance, showRequest(alertId, instance), name, payload) ||
            name != L"Sentrel.Alert." + alertId + L".Queued." + instance) {
            std::fprintf(stderr, "alert %ld: no .Queued. reply (%ls)\n", i, name.c_str());
            failed = true;
            break;
        }
        queued.values.push_back(ms(Clock::now() - start));
        if (!viewer.waitForRequests(static_cast<size_t>(i + 1), 30s)) {
            std::fprintf(stderr, "alert %ld never reached the viewer\n", i);
            failed = true;
            break;
        }
        shown.values.push_back(ms(Clock::now() - start));
        viewer.report(instance, ViewerDouble::Outcome::Dismissed);
        // Idle again before the next: the queue empty, and a moment's rest.
        for (int tries = 0; tries < 300; ++tries) {
            if (product.ask(L"Sentrel.Queue.GetStatus", L"", name, payload) && payload == L"0")
                break;
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(200ms);
    }

    table->StopModule(handle);
    table->UninitializeModule(handle);
    table->DestroyModule(handle);
    if (failed)
        return 1;

    const double rt = roundTrip.at(0.5);
    std::printf("in one process, %zu alerts, each on an idle service; median (10th..90th percentile, lowest..highest)\n",
                shown.values.size());
    std::printf("bus round trip between two raw peers: %.2f ms (%.2f..%.2f)\n", rt, roundTrip.at(0.1),
                roundTrip.at(0.9));
    for (const auto& [label, spread] : {std::make_pair("show request to .Queued. reply", &queued),
                                        std::make_pair("show request to the viewer's Show", &shown)})
        std::printf("%s: %.2f ms (%.2f..%.2f, %.2f..%.2f) = %.1f round trips\n", label, spread->at(0.5),
                    spread->at(0.1), spread->at(0.9), spread->at(0), spread->at(1), rt > 0 ? spread->at(0.5) / rt : 0);
    std::printf("CPU time over 10 s idle: peers alone %.0f ms, with the service started %.0f ms, service %.0f ms\n",
                peersIdleCpu, serviceIdleCpu, serviceIdleCpu - peersIdleCpu);
    return 0;
}

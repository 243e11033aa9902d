// The road of one alert through Sentrel.dll, driven through its module table
// with the test peers on the bus double: a product's show request to the
// ".Queued." reply and to the viewer's Show request, each alert on an idle
// service, against a bus round trip between two raw peers measured between
// the alerts; and the CPU time over 10 s idle after the service started.
// Twice: with the service in this process, and with it in the host double's
// process, connected through the broker. In this process the CPU time is
// also taken before the service is loaded: the difference is the service's.
//
// Usage: alert_road_bench [alerts, default 25]. Run through the wrapper
// build/bench/alert-road-bench, which selects the session API double.
#include "BusBrokerFixture.h"
#include "ChildProcess.h"
#include "JsonText.h"
#include "PluginDoubleControl.h"
#include "RawBusPeer.h"
#include "ScratchFolder.h"
#include "SettingsServicePeer.h"
#include "SignedLibraryTrust.h"
#include "ViewerDouble.h"
#include "WtsDoubleControl.h"

#include "ModuleFunctions.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using TestSupport::jsonText;

const std::wstring kViewer = L"RoadViewer";
const std::wstring kProduct = L"RoadProduct";
const std::wstring kPluginFile = L"roadplugin.dll";
const uint32_t kSession = 3;

MODULE_STATUS managerCallback(void*, void*, void*, void*)
{
    return MODULE_STATUS_SUCCESS;
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

double processCpuMs(HANDLE process)
{
    FILETIME created, ended, kernel, user;
    if (!GetProcessTimes(process, &created, &ended, &kernel, &user))
        return 0;
    auto ticks = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
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

// The service under measure: started, idle, stopped.
class Service {
public:
    virtual ~Service() = default;
    virtual bool start() = 0;
    virtual void stop() = 0;
    // CPU time so far of the process the service runs in, in milliseconds.
    virtual double cpuMs() = 0;
};

class InProcessService : public Service {
public:
    bool start() override
    {
        HMODULE library = LoadLibraryW(TestSupport::buildMachinePath(SENTREL_PATH).c_str());
        if (!library) {
            std::fprintf(stderr, "Sentrel.dll does not load (%lu)\n", GetLastError());
            return false;
        }
        if (!WtsDouble::WtsDoubleControl::doubleLoaded()) {
            std::fprintf(stderr, "the session API double is not loaded: run build/bench/alert-road-bench\n");
            return false;
        }
        const auto createObject =
            reinterpret_cast<CreateObjectFunction>(reinterpret_cast<void*>(GetProcAddress(library, "CreateObject")));
        m_table = createObject ? static_cast<const ModuleFunctions*>(createObject(MODULE_LIBRARY_VERSION_NUM)) : nullptr;
        const std::wstring name = L"SentrelRoadBench";
        if (!m_table || m_table->NewModule(&m_handle, name.c_str()) != 0 ||
            m_table->InitializeModule(m_handle, name.c_str(), L"", 0, nullptr, nullptr, nullptr, &managerCallback) != 0 ||
            m_table->StartModule(m_handle) != 0) {
            std::fprintf(stderr, "the service does not start\n");
            return false;
        }
        return true;
    }
    void stop() override
    {
        if (!m_handle)
            return;
        m_table->StopModule(m_handle);
        m_table->UninitializeModule(m_handle);
        m_table->DestroyModule(m_handle);
        m_handle = nullptr;
    }
    double cpuMs() override { return processCpuMs(GetCurrentProcess()); }

private:
    const ModuleFunctions* m_table = nullptr;
    MODULE_HANDLE m_handle = nullptr;
};

// The host double in a process of its own, over the broker: it starts the
// module, then waits for "road.bench.done" (each wait lasts 5 s at most, so
// it is asked for again and again), then ends the module.
class BrokeredService : public Service {
public:
    BrokeredService()
    {
        m_host = m_folder.file(L"module_host.exe");
        m_bus = m_folder.file(L"Ondrel.dll");
    }
    ~BrokeredService() override { stop(); }

    bool start() override
    {
        wchar_t program[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, program, MAX_PATH - 1);
        std::wstring sessionLibrary = program;
        sessionLibrary = sessionLibrary.substr(0, sessionLibrary.rfind(L'\\') + 1) + L"wtsapi32.dll";
        const std::wstring library = m_folder.file(L"Sentrel.dll");
        if (!CopyFileW(TestSupport::buildMachinePath(MODULE_HOST_PATH).c_str(), m_host.c_str(), FALSE) ||
            !CopyFileW(TestSupport::buildMachinePath(SENTREL_PATH).c_str(), library.c_str(), FALSE) ||
            !CopyFileW(TrustKit::kitPath(L"bus-signed.dll").c_str(), m_bus.c_str(), FALSE) ||
            !CopyFileW(sessionLibrary.c_str(), m_folder.file(L"wtsapi32.dll").c_str(), FALSE)) {
            std::fprintf(stderr, "the host's folder cannot be filled (%lu)\n", GetLastError());
            return false;
        }
        // A wait ends at 5 s of silence on the bus, or at the word to end.
        std::vector<std::wstring> steps{L"--step-timeout-ms=600000", L"--bus=" + m_bus, library, L"new=SentrelRoadBench",
                                        L"initv2=SentrelRoadBench", L"start"};
        for (int i = 0; i < 120; ++i)
            steps.push_back(L"await=road.bench.done");
        for (const wchar_t* step : {L"stop", L"uninit", L"destroy"})
            steps.push_back(step);
        m_thread = std::thread([this, steps]() {
            m_result = TestSupport::runChildProcess(m_host, steps, std::chrono::minutes(12));
            m_ended = true;
        });
        return true;
    }

    void stop() override
    {
        if (!m_thread.joinable())
            return;
        BusDouble::RawBusPeer sender;
        while (!m_ended) {
            sender.publish(L"road.bench.done", L"RoadBench", L"{}");
            std::this_thread::sleep_for(50ms);
        }
        m_thread.join();
        if (!m_result.finished || m_result.exitCode != 0)
            std::fprintf(stderr, "the host ended with %lu:\n%s\n", static_cast<unsigned long>(m_result.exitCode),
                         m_result.output.c_str());
    }

    double cpuMs() override
    {
        if (!m_process) {
            PROCESSENTRY32W entry{};
            entry.dwSize = sizeof(entry);
            HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
            for (BOOL more = Process32FirstW(snapshot, &entry); more && !m_process;
                 more = Process32NextW(snapshot, &entry)) {
                if (_wcsicmp(entry.szExeFile, L"module_host.exe") == 0)
                    m_process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
            }
            CloseHandle(snapshot);
        }
        return m_process ? processCpuMs(m_process) : 0;
    }

private:
    TestSupport::ScratchFolder m_folder;
    std::wstring m_host, m_bus;
    std::thread m_thread;
    std::atomic<bool> m_ended{false};
    TestSupport::ChildProcessResult m_result;
    HANDLE m_process = nullptr;
};

// One run: the peers, the service started, 10 s idle, then the alerts.
bool runRoad(const char* label, Service& service, long alerts)
{
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

    const double peersBefore = service.cpuMs();
    std::this_thread::sleep_for(10s);
    const double peersIdleCpu = service.cpuMs() - peersBefore;

    if (!service.start())
        return false;
    // Up once it answers on the bus.
    std::wstring name, payload;
    const auto began = Clock::now();
    while (!product.ask(L"Sentrel.Queue.GetStatus", L"", name, payload)) {
        if (Clock::now() - began > 60s) {
            std::fprintf(stderr, "%s: the service never answered\n", label);
            service.stop();
            return false;
        }
        std::this_thread::sleep_for(100ms);
    }
    const double before = service.cpuMs();
    std::this_thread::sleep_for(10s);
    const double serviceIdleCpu = service.cpuMs() - before;

    Spread queued, shown, roundTrip;
    uint64_t rawIndex = 1;
    bool failed = false;
    for (long i = 0; i < alerts && !failed; ++i) {
        for (int k = 0; k < 3; ++k)
            roundTrip.values.push_back(rawRoundTripMs(asker, rawIndex++));
        std::wstring instance;
        if (!product.ask(L"Sentrel.Alert.GetId", L"", name, instance)) {
            failed = true;
            break;
        }
        const std::wstring alertId = L"{ROAD-" + std::to_wstring(i) + L"}";
        const auto start = Clock::now();
        if (!product.ask(L"Sentrel.Alert.Show." + instance, showRequest(alertId, instance), name, payload) ||
            name != L"Sentrel.Alert." + alertId + L".Queued." + instance) {
            std::fprintf(stderr, "%s, alert %ld: no .Queued. reply (%ls)\n", label, i, name.c_str());
            failed = true;
            break;
        }
        queued.values.push_back(ms(Clock::now() - start));
        if (!viewer.waitForRequests(static_cast<size_t>(i + 1), 30s)) {
            std::fprintf(stderr, "%s, alert %ld never reached the viewer\n", label, i);
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
    service.stop();
    if (failed)
        return false;

    const double rt = roundTrip.at(0.5);
    std::printf("%s, %zu alerts, each on an idle service; median (10th..90th percentile, lowest..highest)\n", label,
                shown.values.size());
    std::printf("  bus round trip between two raw peers: %.2f ms (%.2f..%.2f)\n", rt, roundTrip.at(0.1),
                roundTrip.at(0.9));
    for (const auto& [what, spread] : {std::make_pair("show request to .Queued. reply", &queued),
                                       std::make_pair("show request to the viewer's Show", &shown)})
        std::printf("  %s: %.2f ms (%.2f..%.2f, %.2f..%.2f) = %.1f round trips\n", what, spread->at(0.5),
                    spread->at(0.1), spread->at(0.9), spread->at(0), spread->at(1), rt > 0 ? spread->at(0.5) / rt : 0);
    std::printf("  CPU time of the service's process over 10 s idle: before the service %.0f ms, after its start "
                "%.0f ms\n", peersIdleCpu, serviceIdleCpu);
    return true;
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

    bool ok = false;
    {
        InProcessService service;
        ok = runRoad("in one process", service, alerts);
    }
    if (ok) {
        BusBroker::BusBrokerFixture broker;
        BrokeredService service;
        ok = runRoad("over the broker, the service in the host double's process", service, alerts);
    }
    return ok ? 0 : 1;
}

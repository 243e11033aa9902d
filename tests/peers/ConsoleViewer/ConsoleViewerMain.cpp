// console_viewer.exe <viewer id> <seconds on screen>: a viewer on the bus
// (through the broker while ONDREL_BROKER_PIPE names one). For each Show
// request it prints the alert, answers Shown (and publishes a copy of that
// answer for other subscribers) and, after the given seconds, reports the
// alert dismissed by the user, or failed when the alert's context asks for
// that. A Delete request is answered and reported as dismissed at once. Ends when its standard input closes. Exit codes: 0
// ended, 2 bad command line, 3 no bus.
#include "BrokerWait.h"
#include "ConsoleLine.h"
#include "InputEnd.h"
#include "ShownAlert.h"
#include "ViewerDouble.h"

#include <chrono>
#include <cwchar>
#include <exception>
#include <map>
#include <memory>
#include <string>

using PeerProgram::say;

namespace {

using Clock = std::chrono::steady_clock;

struct Pending {
    Clock::time_point due;
    ViewerDouble::Outcome outcome;
};

void handleRequest(const ViewerDouble::Request& request, std::map<std::wstring, Pending>& pending,
                   std::chrono::seconds onScreen, BusDouble::RawBusPeer& announcer, const std::wstring& viewerName)
{
    if (!request.show) {
        pending.erase(request.instanceId);
        say(L"viewer: asked to take down " + request.alertId + L" (instance " + request.instanceId +
            L"): answered Dismissed");
        return;
    }
    ConsoleViewer::ShownAlert alert;
    if (!ConsoleViewer::ShownAlert::read(request.payload, alert)) {
        say(L"viewer: a Show request without an alert: " + request.payload);
        return;
    }
    // A viewer built on the SDK's bus client publishes its reply for every
    // subscriber too; products learn from it that their alert is on screen.
    announcer.publish(L"Sentrel.Alert." + alert.id + L".Shown." + request.instanceId, viewerName, L"");
    say(L"viewer: SHOWING " + alert.id + L"  instance " + alert.instanceId + L"  priority " + alert.priority +
        L"  content \"" + alert.content + L"\"");
    pending[request.instanceId] = {Clock::now() + onScreen, alert.reportFailed ? ViewerDouble::Outcome::Failed
                                                                               : ViewerDouble::Outcome::Dismissed};
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t* end = nullptr;
    const long seconds = argc == 3 ? std::wcstol(argv[2], &end, 10) : -1;
    if (argc != 3 || !*argv[1] || *end || seconds < 0) {
        say(L"usage: console_viewer <viewer id> <seconds on screen>");
        return 2;
    }
    if (!PeerProgram::waitForBroker()) {
        say(L"viewer: the broker does not listen");
        return 3;
    }
    std::unique_ptr<ViewerDouble::Viewer> viewer;
    std::unique_ptr<BusDouble::RawBusPeer> announcer;
    try {
        viewer = std::make_unique<ViewerDouble::Viewer>(argv[1]);
        announcer = std::make_unique<BusDouble::RawBusPeer>();
    } catch (const std::exception& error) {
        say(L"viewer: no bus: " + PeerProgram::wide(error.what()));
        return 3;
    }
    say(L"viewer: " + viewer->name() + L" is listening");

    const PeerProgram::InputEnd input;
    std::map<std::wstring, Pending> pending; // instance id -> the user's answer to come
    size_t seen = 0;
    while (!input.ended()) {
        if (viewer->waitForRequests(seen + 1, std::chrono::milliseconds(100))) {
            const std::vector<ViewerDouble::Request> requests = viewer->requests();
            for (; seen < requests.size(); ++seen)
                handleRequest(requests[seen], pending, std::chrono::seconds(seconds), *announcer, viewer->name());
        }
        for (auto next = pending.begin(); next != pending.end();) {
            if (Clock::now() < next->second.due) {
                ++next;
                continue;
            }
            const bool failed = next->second.outcome == ViewerDouble::Outcome::Failed;
            say(L"viewer: instance " + next->first +
                (failed ? L" could not be shown to the user: reported Failed" : L" dismissed by the user"));
            viewer->report(next->first, next->second.outcome);
            next = pending.erase(next);
        }
    }
    announcer.reset();
    viewer.reset();
    return 0;
}

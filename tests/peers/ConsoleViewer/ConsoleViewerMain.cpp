// console_viewer.exe <viewer id> <seconds on screen>: a viewer on the bus
// (through the broker while ONDREL_BROKER_PIPE names one). For each Show
// request it prints the alert, answers Shown (and publishes a copy of that
// answer for other subscribers) and, after the given seconds, reports the
// alert dismissed by the user, or failed when the alert's context asks for
// that. A Delete request is answered Dismissed: the alert is off the screen,
// as asked. When the alert was still on screen, taking it down is its
// outcome and is reported as dismissed; when the user had already answered
// it, that answer was its outcome and nothing more is reported. Ends when
// its standard input closes. Exit codes: 0 ended, 2 bad command line, 3 no
// bus.
#include "BrokerWait.h"
#include "ConsoleLine.h"
#include "InputEnd.h"
#include "Screen.h"
#include "ShownAlert.h"
#include "ViewerDouble.h"

#include <chrono>
#include <cwchar>
#include <exception>
#include <memory>
#include <string>
#include <vector>

using PeerProgram::say;

namespace {

using ConsoleViewer::Screen;

ViewerDouble::Outcome reported(Screen::Outcome outcome)
{
    return outcome == Screen::Outcome::Failed ? ViewerDouble::Outcome::Failed : ViewerDouble::Outcome::Dismissed;
}

void handleRequest(const ViewerDouble::Request& request, Screen& screen, std::chrono::seconds onScreen,
                   ViewerDouble::Viewer& viewer, BusDouble::RawBusPeer& announcer)
{
    if (!request.show) {
        // The reply, Dismissed, went out as the request came.
        if (screen.takeDown(request.instanceId)) {
            say(L"viewer: asked to take down " + request.alertId + L" (instance " + request.instanceId +
                L"): answered Dismissed, reported dismissed");
            viewer.report(request.instanceId, ViewerDouble::Outcome::Dismissed);
        } else {
            say(L"viewer: asked to take down " + request.alertId + L" (instance " + request.instanceId +
                L"), no longer on screen: answered Dismissed, its outcome was reported already");
        }
        return;
    }
    ConsoleViewer::ShownAlert alert;
    if (!ConsoleViewer::ShownAlert::read(request.payload, alert)) {
        say(L"viewer: a Show request without an alert: " + request.payload);
        return;
    }
    // A viewer built on the SDK's bus client publishes its reply for every
    // subscriber too; products learn from it that their alert is on screen.
    announcer.publish(L"Sentrel.Alert." + alert.id + L".Shown." + request.instanceId, viewer.name(), L"");
    say(L"viewer: SHOWING " + alert.id + L"  instance " + alert.instanceId + L"  priority " + alert.priority +
        L"  content \"" + alert.content + L"\"");
    screen.show(request.instanceId, Screen::Clock::now() + onScreen,
                alert.reportFailed ? Screen::Outcome::Failed : Screen::Outcome::Dismissed);
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
    // Every Delete is answered by its reply alone; whether an outcome follows
    // is decided here, against what is on screen.
    viewer->answerDelete(ViewerDouble::Answer::Dismissed, ViewerDouble::Outcome::None);
    say(L"viewer: " + viewer->name() + L" is listening");

    const PeerProgram::InputEnd input;
    Screen screen;
    size_t seen = 0;
    while (!input.ended()) {
        if (viewer->waitForRequests(seen + 1, std::chrono::milliseconds(100))) {
            const std::vector<ViewerDouble::Request> requests = viewer->requests();
            for (; seen < requests.size(); ++seen)
                handleRequest(requests[seen], screen, std::chrono::seconds(seconds), *viewer, *announcer);
        }
        for (const Screen::Ended& ended : screen.answered(Screen::Clock::now())) {
            const bool failed = ended.outcome == Screen::Outcome::Failed;
            say(L"viewer: instance " + ended.instanceId +
                (failed ? L" could not be shown to the user: reported Failed" : L" dismissed by the user"));
            viewer->report(ended.instanceId, reported(ended.outcome));
        }
    }
    announcer.reset();
    viewer.reset();
    return 0;
}

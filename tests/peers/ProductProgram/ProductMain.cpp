// product.exe [run | send <json file> | delete <instance> [<alert id>] | status]:
// a product on the bus (through the broker while ONDREL_BROKER_PIPE names
// one) asking the alert service for alerts, printing every reply and notice
// with the time it came.
//   run     asks for an id for each of three alerts of different priorities
//           and sends their show requests (the second and third once the
//           first is on screen), waits for each one's outcome, prints the
//           first outcome of each (what it ended as), then deletes the alert
//           that ended last;
//   send    sends someone's own request (a JSON file, UTF-8; a Unix path is
//           taken as one on drive Z:) with a new instance id and waits for
//           its outcome;
//   delete  sends a delete request for an instance;
//   status  asks whether the service's queues are busy.
// Exit codes: 0 every request was answered (and, for run and send, every
// alert has its outcome), 1 a request or an outcome did not come, 2 bad
// command line or file, 3 no bus.
#include "AlertClient.h"
#include "AlertRequest.h"
#include "BrokerWait.h"
#include "ConsoleLine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

using PeerProgram::say;

namespace {

const wchar_t kProduct[] = L"DemoProduct";
const wchar_t kViewer[] = L"DemoViewer";
// On screen for at most this long; the service waits 30 s more for the outcome.
const unsigned kAlertTimeout = 10;
// How long past the service's own wait an outcome may still take to arrive.
const std::chrono::seconds kOutcomeSlack{20};

std::chrono::seconds outcomeLimit(unsigned timeout)
{
    return std::chrono::seconds(timeout) + std::chrono::seconds(30) + kOutcomeSlack;
}

bool queued(const ProductProgram::AlertClient::Reply& reply)
{
    return reply.answered && reply.name.find(L".Queued.") != std::wstring::npos;
}

int run(ProductProgram::AlertClient& client)
{
    // The first is shown at once; the other two wait behind it, and the most
    // urgent of them (P1) goes next.
    const std::vector<ProductProgram::AlertRequest> alerts = {
        {L"{DEMO-BACKUP}", L"P3", kProduct, kViewer, L"Backup finished", kAlertTimeout},
        {L"{DEMO-UPDATE}", L"P2", kProduct, kViewer, L"Update ready", kAlertTimeout},
        {L"{DEMO-DISK}", L"P1", kProduct, kViewer, L"Disk almost full", kAlertTimeout},
    };
    std::vector<std::wstring> instances;
    for (const ProductProgram::AlertRequest& alert : alerts) {
        const std::wstring instance = client.newInstance();
        if (instance.empty())
            return 1;
        say(L"product: " + client.stamp() + L"show " + alert.id + L" " + alert.priority + L" as instance " + instance);
        if (!queued(client.show(instance, alert.json(instance))))
            return 1;
        instances.push_back(instance);
        // The others are sent once the first is on screen, so that they wait behind it.
        if (instances.size() == 1 && client.waitForShown(instance, std::chrono::seconds(30)).empty()) {
            say(L"product: " + client.stamp() + L"instance " + instance + L" was not shown");
            return 1;
        }
    }
    // They end one after the other: each may take the whole of its wait.
    // An alert is judged by its first outcome: what it ended as.
    const auto began = std::chrono::steady_clock::now();
    const std::chrono::seconds limit = outcomeLimit(kAlertTimeout) * static_cast<long long>(instances.size());
    std::vector<std::wstring> firstOutcomes;
    for (const std::wstring& instance : instances) {
        const std::chrono::seconds left =
            limit - std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - began);
        const std::wstring outcome =
            client.waitForOutcome(instance, left > std::chrono::seconds(0) ? left : std::chrono::seconds(0));
        if (outcome.empty()) {
            say(L"product: " + client.stamp() + L"no outcome for instance " + instance);
            return 1;
        }
        firstOutcomes.push_back(outcome);
    }
    // The alert that ended last is the one the service still holds as shown.
    const std::vector<std::wstring> heard = client.outcomes();
    size_t which = 0, latest = 0;
    for (size_t i = 0; i < instances.size(); ++i) {
        const size_t at = static_cast<size_t>(std::find(heard.begin(), heard.end(), firstOutcomes[i]) - heard.begin());
        const std::wstring& name = firstOutcomes[i];
        const size_t end = name.rfind(L'.');
        const size_t kind = name.rfind(L'.', end - 1);
        say(L"product: outcome of " + alerts[i].id + L" (instance " + instances[i] +
            L"): " + name.substr(kind + 1, end - kind - 1));
        if (at >= latest) {
            latest = at;
            which = i;
        }
    }
    say(L"product: " + client.stamp() + L"delete " + alerts[which].id + L" instance " + instances[which]);
    return client.remove(instances[which], alerts[which].id, alerts[which].json(instances[which])).answered ? 0 : 1;
}

bool readFile(const std::wstring& path, std::wstring& text)
{
    // A Unix path, as a shell completes it, lies on Wine's drive Z:.
    const std::wstring windowsPath = !path.empty() && path[0] == L'/' ? L"Z:" + path : path;
    FILE* file = _wfopen(windowsPath.c_str(), L"rb");
    if (!file)
        return false;
    std::string bytes;
    char buffer[4096];
    for (size_t read; (read = std::fread(buffer, 1, sizeof(buffer), file)) > 0;)
        bytes.append(buffer, read);
    std::fclose(file);
    text = PeerProgram::wide(bytes);
    return true;
}

int send(ProductProgram::AlertClient& client, const std::wstring& path)
{
    std::wstring text;
    if (!readFile(path, text)) {
        say(L"product: cannot read " + path);
        return 2;
    }
    std::wstring id;
    unsigned timeout = 30;
    ProductProgram::AlertRequest::peek(text, id, timeout);
    const std::wstring instance = client.newInstance();
    if (instance.empty())
        return 1;
    std::wstring payload, error;
    if (!ProductProgram::AlertRequest::withInstance(text, instance, payload, error)) {
        say(L"product: " + path + L": " + error);
        return 2;
    }
    const ProductProgram::AlertClient::Reply reply = client.show(instance, payload);
    if (!reply.answered) {
        say(L"product: the service refused the request (a request it cannot read gets no reply; see its log)");
        return 1;
    }
    if (!queued(reply))
        return 0;
    return client.waitForOutcome(instance, outcomeLimit(timeout)).empty() ? 1 : 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"run";
    const bool known = (command == L"run" && argc <= 2) || (command == L"send" && argc == 3) ||
                       (command == L"delete" && (argc == 3 || argc == 4)) || (command == L"status" && argc == 2);
    if (!known) {
        say(L"usage: product [run | send <json file> | delete <instance> [<alert id>] | status]");
        return 2;
    }
    if (!PeerProgram::waitForBroker()) {
        say(L"product: the broker does not listen");
        return 3;
    }
    std::unique_ptr<ProductProgram::AlertClient> client;
    try {
        client = std::make_unique<ProductProgram::AlertClient>();
    } catch (const std::exception& error) {
        say(L"product: no bus: " + PeerProgram::wide(error.what()));
        return 3;
    }
    if (command == L"run")
        return run(*client);
    if (command == L"send")
        return send(*client, argv[2]);
    if (command == L"delete") {
        const ProductProgram::AlertRequest alert{argc == 4 ? argv[3] : L"", L"P3", kProduct, kViewer, L"", 30};
        return client->remove(argv[2], alert.id, alert.json(argv[2])).answered ? 0 : 1;
    }
    return client->queueStatus().answered ? 0 : 1;
}

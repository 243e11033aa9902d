#pragma once
// A viewer on the bus: it answers the service's Show and Delete requests and
// reports what "the user" did, each the way the test sets it, and keeps a
// journal of the requests it received. It speaks to the bus library's table
// directly, as a viewer outside the service would, or through the SDK's bus
// client, as a viewer built on the SDK does: that client publishes every
// reply a second time as a plain message for all subscribers.
//
// A Delete confirmed by its reply alone: answerDelete(Answer::Dismissed,
// Outcome::None).
#include "RawBusPeer.h"

#include "message/MessageBusClient.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace ViewerDouble {

// The reply a request gets.
enum class Answer {
    Shown,      // "Sentrel.Alert." + id + ".Shown." + instance
    Dismissed,  // ... ".Dismissed." ...
    Failed,     // ... ".Failed." ...
    WrongCase,  // the expected name with "sentrel" in lower case
    Silent,     // no reply at all: the request times out, in a hundredth of its time
};

// What the viewer reports, as a plain message, once it has answered.
enum class Outcome {
    None,
    Dismissed,
    Failed,
};

// How the viewer talks to the bus.
enum class Client {
    Raw,  // the bus library's table: a reply reaches the requester only
    Sdk,  // Ostrand::MessageBusClient: a reply is also published as a plain message
};

struct Request {
    std::wstring name;
    std::wstring source;
    std::wstring payload;
    std::wstring instanceId;
    std::wstring alertId;  // from the Show payload; for a Delete, the one its Show carried
    bool show = false;
};

class Viewer {
public:
    // Subscribes to this viewer's Show and Delete requests on a connection
    // of its own. The defaults behave like a viewer that works. Resetting
    // the bus double gives a silent viewer's requests their real time again.
    explicit Viewer(std::wstring name, Client client = Client::Raw);
    ~Viewer();
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    const std::wstring& name() const { return m_name; }

    void answerShow(Answer answer, Outcome then = Outcome::None);
    void answerDelete(Answer answer, Outcome then = Outcome::Dismissed);

    // Reports an outcome as the user's doing, for an alert this viewer showed
    // (the alert id is remembered from its Show request).
    void report(const std::wstring& instanceId, Outcome outcome);
    // The outcome notice's name for an alert.
    static std::wstring outcomeName(const std::wstring& alertId, Outcome outcome, const std::wstring& instanceId);

    // False when fewer than `count` requests arrived before the deadline.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::vector<Request> requests();

private:
    // Answers a request that `reply` answers on the viewer's connection.
    void onRequest(const std::wstring& name, const std::wstring& source, const std::wstring& payload,
                   const std::function<void(const std::wstring&)>& reply);
    void publish(const std::wstring& name);
    std::wstring replyName(Answer answer, const std::wstring& alertId, const std::wstring& instanceId) const;

    const std::wstring m_name;
    const std::wstring m_showPrefix;
    const std::wstring m_deletePrefix;
    std::mutex m_lock;
    std::condition_variable m_changed;
    Answer m_showAnswer = Answer::Shown;
    Outcome m_afterShow = Outcome::None;
    Answer m_deleteAnswer = Answer::Dismissed;
    Outcome m_afterDelete = Outcome::Dismissed;
    std::map<std::wstring, std::wstring> m_alertIds;  // instance id -> alert id
    std::vector<Request> m_requests;
    BusDouble::RawBusPeer m_peer;
    // Only for Client::Sdk; made last, gone first.
    std::unique_ptr<Ostrand::MessageBusClient> m_client;
};

} // namespace ViewerDouble

#include "ViewerDouble.h"

#include <rapidjson/document.h>

namespace ViewerDouble {

namespace {

using WideDocument = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;

std::wstring alertIdOf(const std::wstring& payload)
{
    WideDocument document;
    document.Parse(payload.c_str());
    if (document.HasParseError() || !document.IsObject())
        return L"";
    const auto member = document.FindMember(L"id");
    if (member == document.MemberEnd() || !member->value.IsString())
        return L"";
    return std::wstring(member->value.GetString(), member->value.GetStringLength());
}

std::wstring literal(const std::wstring& text)
{
    std::wstring out;
    for (const wchar_t c : text) {
        if (std::wstring(L"\\^$.|?*+()[]{}").find(c) != std::wstring::npos)
            out += L'\\';
        out += c;
    }
    return out;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// A request to a silent viewer can only time out, so its 90 s pass in 0.9 s;
// every answered one keeps its real time.
const double kSilentTimeScale = 0.01;

void timeOutSoonWhenSilent(const std::wstring& prefix, Answer answer)
{
    BusDouble::RawBusPeer::control().setTimeScaleFor(prefix.c_str(), answer == Answer::Silent ? kSilentTimeScale : 1.0);
}

} // namespace

Viewer::Viewer(std::wstring name, Client client)
    : m_name(std::move(name)),
      m_showPrefix(L"Sentrel.Viewer." + m_name + L".Show."),
      m_deletePrefix(L"Sentrel.Viewer." + m_name + L".Delete.")
{
    const std::wstring requests = L"Sentrel\\.Viewer\\." + literal(m_name) + L"\\.(Show|Delete)\\..*";
    if (client == Client::Sdk) {
        m_client.reset(new Ostrand::MessageBusClient());
        m_client->subscribeFilter(requests, [this](std::shared_ptr<Ostrand::Message> message) -> uint32_t {
            onRequest(message->name(), message->source(), message->payload(), [this, message](const std::wstring& name) {
                m_client->publish(message->createReply(name, m_name, L""));
            });
            return 0;
        });
        return;
    }
    m_peer.setResponder([this](BusDouble::RawBusPeer& peer, const BusDouble::RawBusPeer::Delivery& delivery) {
        onRequest(delivery.name, delivery.source, delivery.payload,
                  [&peer, &delivery](const std::wstring& name) { peer.reply(delivery, name, L""); });
    });
    m_peer.subscribeFilter(requests);
}

Viewer::~Viewer()
{
    m_client.reset();
    m_peer.setResponder(nullptr);
}

void Viewer::publish(const std::wstring& name)
{
    if (m_client)
        m_client->publish(Ostrand::Message::create(name, m_name, L""));
    else
        m_peer.publish(name, m_name, L"");
}

void Viewer::answerShow(Answer answer, Outcome then)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_showAnswer = answer;
    m_afterShow = then;
    timeOutSoonWhenSilent(m_showPrefix, answer);
}

void Viewer::answerDelete(Answer answer, Outcome then)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_deleteAnswer = answer;
    m_afterDelete = then;
    timeOutSoonWhenSilent(m_deletePrefix, answer);
}

std::wstring Viewer::outcomeName(const std::wstring& alertId, Outcome outcome, const std::wstring& instanceId)
{
    const wchar_t* step = outcome == Outcome::Failed ? L".Failed." : L".Dismissed.";
    return L"Sentrel.Alert." + alertId + step + instanceId;
}

std::wstring Viewer::replyName(Answer answer, const std::wstring& alertId, const std::wstring& instanceId) const
{
    switch (answer) {
    case Answer::Shown:
        return L"Sentrel.Alert." + alertId + L".Shown." + instanceId;
    case Answer::Dismissed:
        return outcomeName(alertId, Outcome::Dismissed, instanceId);
    case Answer::Failed:
        return outcomeName(alertId, Outcome::Failed, instanceId);
    case Answer::WrongCase:
        return L"sentrel.Alert." + alertId + L".Shown." + instanceId;
    case Answer::Silent:
        break;
    }
    return L"";
}

void Viewer::report(const std::wstring& instanceId, Outcome outcome)
{
    std::wstring alertId;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        alertId = m_alertIds[instanceId];
    }
    if (outcome != Outcome::None)
        publish(outcomeName(alertId, outcome, instanceId));
}

void Viewer::onRequest(const std::wstring& name, const std::wstring& source, const std::wstring& payload,
                       const std::function<void(const std::wstring&)>& reply)
{
    Request request;
    request.name = name;
    request.source = source;
    request.payload = payload;
    request.show = startsWith(name, m_showPrefix);
    request.instanceId = name.substr((request.show ? m_showPrefix : m_deletePrefix).size());
    Answer answer;
    Outcome then;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (request.show)
            m_alertIds[request.instanceId] = alertIdOf(payload);
        request.alertId = m_alertIds[request.instanceId];
        answer = request.show ? m_showAnswer : m_deleteAnswer;
        then = request.show ? m_afterShow : m_afterDelete;
        m_requests.push_back(request);
    }
    m_changed.notify_all();
    if (answer == Answer::Silent)
        return;
    reply(replyName(answer, request.alertId, request.instanceId));
    if (then != Outcome::None)
        publish(outcomeName(request.alertId, then, request.instanceId));
}

bool Viewer::waitForRequests(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> guard(m_lock);
    return m_changed.wait_for(guard, timeout, [this, count] { return m_requests.size() >= count; });
}

std::vector<Request> Viewer::requests()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

} // namespace ViewerDouble

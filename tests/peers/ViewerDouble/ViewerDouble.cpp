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

Viewer::Viewer(std::wstring name)
    : m_name(std::move(name)),
      m_showPrefix(L"Sentrel.Viewer." + m_name + L".Show."),
      m_deletePrefix(L"Sentrel.Viewer." + m_name + L".Delete.")
{
    m_peer.setResponder([this](BusDouble::RawBusPeer& peer, const BusDouble::RawBusPeer::Delivery& delivery) {
        onRequest(peer, delivery);
    });
    m_peer.subscribeFilter(L"Sentrel\\.Viewer\\." + literal(m_name) + L"\\.(Show|Delete)\\..*");
}

Viewer::~Viewer()
{
    m_peer.setResponder(nullptr);
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
        m_peer.publish(outcomeName(alertId, outcome, instanceId), m_name, L"");
}

void Viewer::onRequest(BusDouble::RawBusPeer& peer, const BusDouble::RawBusPeer::Delivery& delivery)
{
    Request request;
    request.name = delivery.name;
    request.source = delivery.source;
    request.payload = delivery.payload;
    request.show = startsWith(delivery.name, m_showPrefix);
    request.instanceId = delivery.name.substr((request.show ? m_showPrefix : m_deletePrefix).size());
    Answer answer;
    Outcome then;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (request.show)
            m_alertIds[request.instanceId] = alertIdOf(delivery.payload);
        request.alertId = m_alertIds[request.instanceId];
        answer = request.show ? m_showAnswer : m_deleteAnswer;
        then = request.show ? m_afterShow : m_afterDelete;
        m_requests.push_back(request);
    }
    m_changed.notify_all();
    if (answer == Answer::Silent)
        return;
    peer.reply(delivery, replyName(answer, request.alertId, request.instanceId), L"");
    if (then != Outcome::None)
        peer.publish(outcomeName(request.alertId, then, request.instanceId), m_name, L"");
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

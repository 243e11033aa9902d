// The module object's answers to the bus.
#include "module/SentrelImpl.h"

#include "alert/Alert.h"
#include "alert/AlertInfo.h"
#include "session/AlertGlobalSession.h"
#include "session/AlertSession.h"
#include "telemetry/AlertStatusLines.h"
#include "telemetry/AlertTelemetry.h"

#include "dll/CallGuarded.h"
#include "json/JSONFormatter.h"

#include "Logging/Log.h"

namespace Kest {

namespace {
const wchar_t kSource[] = L"SentrelImpl";
const wchar_t kResponseSource[] = L"Sentrel";
const size_t kLoggedPayloadChars = 100;

enum class RequestKind { Show, Delete };

// What show and delete requests share: the instance text from the name, the
// record from the payload, and the two must agree. False after an error line.
bool readAlertRequest(const SentrelImpl& module, const Ostrand::Message& message, const wchar_t* function,
                      RequestKind kind, std::wstring& instanceId, AlertInfo& info)
{
    if (!module.parseInstanceId(message.name(), instanceId)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to parse instance id from message name: %ls.",
                message.name().c_str());
        return false;
    }
    if (!AlertInfo::fromJson(message.payload(), info)) {
        if (kind == RequestKind::Show)
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                    L"Failed to parse message payload %s. Instance: %ls.", message.payload().c_str(),
                    instanceId.c_str());
        else
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                    L"Failed to parse message payload. Instance: %ls. Message Payload : %ls", instanceId.c_str(),
                    message.payload().c_str());
        return false;
    }
    if (info.instanceId != instanceId) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Invalid input. Instance name and payload are mismatched.");
        return false;
    }
    return true;
}
} // namespace

uint32_t SentrelImpl::onShowAlertMessage(std::shared_ptr<Ostrand::Message> message)
{
    m_executor.post([this, message]() { return showAlertTask(message); });
    return MODULE_STATUS_SUCCESS;
}

uint32_t SentrelImpl::onDeleteAlertMessage(std::shared_ptr<Ostrand::Message> message)
{
    m_executor.post([this, message]() { return deleteAlertTask(message); });
    return MODULE_STATUS_SUCCESS;
}

// An exception that left a task would end the executor thread, and every
// later request would wait unanswered: it becomes the task's failure status.
uint32_t SentrelImpl::showAlertTask(std::shared_ptr<Ostrand::Message> message)
{
    return Ostrand::internal::callGuarded([&]() { return showAlertHandler(message); });
}

uint32_t SentrelImpl::deleteAlertTask(std::shared_ptr<Ostrand::Message> message)
{
    return Ostrand::internal::callGuarded([&]() { return deleteAlertHandler(message); });
}

uint32_t SentrelImpl::showAlertHandler(std::shared_ptr<Ostrand::Message> message)
{
    const wchar_t kFunction[] = L"Kest::SentrelImpl::showAlertHandler";
    std::wstring instanceId;
    AlertInfo info;
    if (!message || !readAlertRequest(*this, *message, kFunction, RequestKind::Show, instanceId, info))
        return MODULE_STATUS_INVALID_PARAMETER;

    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kFunction, StatusLine::kRequest, info.alertId.c_str(),
            instanceId.c_str());
    AlertTelemetry::sendAlertRequest(info.alertId, info.product, info.sessionId);

    const std::wstring alertId = info.alertId;
    bool suppressed = false;
    {
        std::lock_guard<std::mutex> lock(m_sessionsMutex);
        std::shared_ptr<AlertSession> session;
        if (info.sessionId != 0) {
            session = findOrCreateUserSession(info.sessionId);
        } else {
            session = m_globalSession;
            startActiveSession();
        }
        if (!session)
            return MODULE_STATUS_UNSUCCESSFUL;
        session->queueAlert(std::make_shared<Alert>(std::move(info)), suppressed);
    }

    const std::wstring outcome = suppressed ? L".Suppressed." : L".Queued.";
    if (!suppressed)
        CollectLogsForRiskAlert(alertId);
    return publish(message->createReply(L"Sentrel.Alert." + alertId + outcome + instanceId, L"", L""));
}

uint32_t SentrelImpl::deleteAlertHandler(std::shared_ptr<Ostrand::Message> message)
{
    const wchar_t kFunction[] = L"Kest::SentrelImpl::deleteAlertHandler";
    std::wstring instanceId;
    AlertInfo info;
    if (!message || !readAlertRequest(*this, *message, kFunction, RequestKind::Delete, instanceId, info))
        return MODULE_STATUS_INVALID_PARAMETER;

    // A delete reply names no alert: "Sentrel.Alert." is followed directly
    // by the outcome.
    std::wstring outcome;
    if (deleteAlert(instanceId, info.alertId)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kFunction, L"Alert instance %ls deleted.",
                instanceId.c_str());
        outcome = L".Deleted.";
    } else {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kFunction,
                L"Alert instance %ls not found and not being shown - can't delete it", instanceId.c_str());
        outcome = L".NotFound.";
    }
    return publish(message->createReply(L"Sentrel.Alert." + outcome + instanceId, L"", L""));
}

uint32_t SentrelImpl::getAlertIdHandler(std::shared_ptr<Ostrand::Message> message)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    const uint32_t id = m_instanceCounter.fetch_add(1);
    return publish(message->createReply(L"Sentrel.Alert.GetId.Response", kResponseSource, std::to_wstring(id)));
}

uint32_t SentrelImpl::getQueueStatusHandler(std::shared_ptr<Ostrand::Message> message)
{
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    return publish(message->createReply(L"Sentrel.Queue.GetStatus.Response", kResponseSource,
                                        isQueueIdle() ? L"0" : L"1"));
}

uint32_t SentrelImpl::handleSessionLogoff(std::shared_ptr<Ostrand::Message> message)
{
    const wchar_t kFunction[] = L"Kest::SentrelImpl::handleSessionLogoff";
    if (!message)
        return MODULE_STATUS_INVALID_PARAMETER;
    const std::wstring logged = message->payload().substr(0, kLoggedPayloadChars);
    Ostrand::JSONFormatter payload;
    if (!payload.parse(message->payload())) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction, L"Failed to parse %ls payload: %ls.",
                message->name().c_str(), logged.c_str());
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    uint32_t sessionId = 0;
    if (!payload.getUInt(L"sessionId", sessionId)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction, L"Failed to parse session id. Payload: %ls.",
                logged.c_str());
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    // Ending a session takes its alert on screen down through the viewer:
    // every other session's requests must not wait for that.
    std::shared_ptr<AlertSession> ended;
    {
        std::lock_guard<std::mutex> lock(m_sessionsMutex);
        const auto found = m_userSessions.find(sessionId);
        if (found != m_userSessions.end()) {
            ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kFunction,
                    L"Clearing alert session after logout. Session id: %lu.", static_cast<unsigned long>(sessionId));
            ended = std::move(found->second);
            m_userSessions.erase(found);
            // Before the mutex goes: a show request for this id may make
            // the session again at once, and that one is to hear of global
            // alerts while this one still ends.
            beginEndOf(ended);
        }
    }
    ended.reset();
    return MODULE_STATUS_SUCCESS;
}

} // namespace Kest

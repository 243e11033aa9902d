#include "viewer/AlertViewer.h"

#include "dll/ModuleStatusText.h"
#include "message/MessageBusClient.h"
#include "message/Reply.h"
#include "telemetry/AlertStatusLines.h"
#include "telemetry/AlertTelemetry.h"

#include "Logging/Log.h"

namespace Kest {

namespace {

const wchar_t kSource[] = L"AlertViewer";

std::shared_ptr<Ostrand::MessageBus> busOrOwn(std::shared_ptr<Ostrand::MessageBus> bus)
{
    if (bus)
        return bus;
    return std::make_shared<Ostrand::MessageBusClient>();
}

std::wstring alertMessageName(const std::wstring& alertId, const wchar_t* outcome, const std::wstring& instanceId)
{
    return L"Sentrel.Alert." + alertId + outcome + instanceId;
}

} // namespace

AlertViewer::AlertViewer(std::wstring name, std::shared_ptr<Ostrand::MessageBus> bus)
    : m_name(std::move(name)),
      m_showPrefix(L"Sentrel.Viewer." + m_name + L".Show."),
      m_deletePrefix(L"Sentrel.Viewer." + m_name + L".Delete."),
      m_bus(busOrOwn(std::move(bus)))
{
}

const std::wstring& AlertViewer::getName() const
{
    return m_name;
}

MODULE_STATUS AlertViewer::exchange(const std::wstring& name, const std::wstring& payload,
                                    const std::wstring& expectedReply, const MODULE_STATUS* sendFailure)
{
    const wchar_t* function = sendFailure ? L"Kest::AlertViewer::sendDeleteRequest"
                                          : L"Kest::AlertViewer::sendShowRequest";
    std::shared_ptr<Ostrand::Reply> reply;
    MODULE_STATUS status = MODULE_STATUS_NO_MEMORY;
    if (auto message = Ostrand::Message::create(name, L"Sentrel", payload))
        status = m_bus->requestEx(message, reply, kRequestTimeout);
    if (status == MODULE_STATUS_SUCCESS && !reply)
        status = MODULE_STATUS_UNSUCCESSFUL;
    if (status != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to make request, status: %ls",
                Ostrand::moduleStatusToString(status));
        return sendFailure ? *sendFailure : status;
    }

    if (reply->getStatus() != Ostrand::Reply::Received) {
        const int32_t replyStatus = reply->peekStatus();
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Request failed with status %d.", replyStatus);
        return replyStatus == Ostrand::Reply::TimedOut ? MODULE_STATUS_TIMEOUT : MODULE_STATUS_DATA_ERROR;
    }

    const auto answer = reply->getMessage();
    const std::wstring received = answer ? answer->name() : std::wstring();
    if (received != expectedReply) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Received invalid response message: %ls, expected: %ls.", received.c_str(), expectedReply.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS AlertViewer::sendShowRequest(const std::wstring& alertJson, const std::wstring& alertId,
                                           const std::wstring& instanceId)
{
    return exchange(m_showPrefix + instanceId, alertJson, alertMessageName(alertId, L".Shown.", instanceId),
                    nullptr);
}

MODULE_STATUS AlertViewer::sendDeleteRequest(const std::wstring& alertId, const std::wstring& instanceId)
{
    // However the bus refused, a Delete that never left means no viewer took it.
    static const MODULE_STATUS kNotDelivered = MODULE_STATUS_NO_SUBSCRIBERS;
    return exchange(m_deletePrefix + instanceId, std::wstring(),
                    alertMessageName(alertId, L".Dismissed.", instanceId), &kNotDelivered);
}

bool AlertViewer::show(const std::wstring& alertJson, const std::wstring& alertId, const std::wstring& instanceId)
{
    const MODULE_STATUS status = sendShowRequest(alertJson, alertId, instanceId);
    if (status == MODULE_STATUS_SUCCESS)
        return true;
    AlertTelemetry::sendViewerFailure(alertId, m_name, status);
    return false;
}

bool AlertViewer::dismiss(const std::wstring& alertId, const std::wstring& instanceId)
{
    const MODULE_STATUS status = sendDeleteRequest(alertId, instanceId);
    if (status != MODULE_STATUS_SUCCESS) {
        AlertTelemetry::sendDismissFailed(alertId, m_name, status);
        // Whoever waits for this alert's outcome must not wait for a viewer
        // that did not take it down.
        m_bus->publish(Ostrand::Message::create(alertMessageName(alertId, L".Failed.", instanceId), L"", L""));
        return false;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::AlertViewer::dismiss", StatusLine::kDismissedByViewer,
            alertId.c_str(), instanceId.c_str());
    AlertTelemetry::sendAlertDismissed(alertId, m_name);
    return true;
}

} // namespace Kest

#include "settings/SettingsManagerClientImpl.h"

#include "Logging/Log.h"
#include "dll/ModuleStatusText.h"
#include "message/MessageBusClient.h"

#include <stdexcept>

namespace Ostrand {

namespace {

const wchar_t kSource[] = L"SettingsManagerClient";

void warn(const wchar_t* function, const wchar_t* text)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, L"%ls", text);
}

// The reply's status as the waiting caller sees it; the texts differ between
// single-property and list requests.
struct WaitTexts {
    const wchar_t* timedOut;
    const wchar_t* failed;
    const wchar_t* unknown;
};

bool waitAndParse(const std::shared_ptr<Reply>& reply, JSONFormatter& response, const wchar_t* function,
                  const WaitTexts& texts)
{
    if (!reply) {
        warn(function, texts.unknown);
        return false;
    }
    reply->getStatus();
    switch (reply->peekStatus()) {
    case Reply::Received:
        break;
    case Reply::TimedOut:
        warn(function, texts.timedOut);
        return false;
    case Reply::Failed:
        warn(function, texts.failed);
        return false;
    default:
        warn(function, texts.unknown);
        return false;
    }
    const std::shared_ptr<Message> message = reply->getMessage();
    JSONFormatter parsed;
    if (!message || !parsed.parse(message->payload())) {
        warn(function, L"Failed to parse settings manager response message. Returning.");
        return false;
    }
    response = parsed;
    return true;
}

} // namespace

SettingsManagerClient::Impl::Impl(std::shared_ptr<MessageBus> bus)
    : m_bus(bus ? std::move(bus) : std::make_shared<MessageBusClient>())
{
}

uint32_t SettingsManagerClient::Impl::sendRequest(const wchar_t* messageName, const JSONFormatter& request,
                                                  const Timeout& timeout, std::shared_ptr<Reply>& reply)
{
    const std::shared_ptr<Message> message = Message::create(messageName, kSettingsDefaultSource, request.toString());
    if (!message)
        return MODULE_STATUS_NO_MEMORY;
    std::shared_ptr<Reply> answer;
    const uint32_t status = m_bus->request(message, answer, timeout);
    if (status == MODULE_STATUS_SUCCESS)
        reply = answer;
    return status;
}

bool SettingsManagerClient::Impl::getSettingPropertyResponse(const std::shared_ptr<Reply>& reply,
                                                             JSONFormatter& response)
{
    return waitAndParse(reply, response, L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponse",
                        {L"Property request timed out. Returning.",
                         L"Property request failed with DATA_ERROR. Returning.",
                         L"Property request failed on wait() with unknown error."});
}

bool SettingsManagerClient::Impl::getSettingPropertyResponseList(const std::shared_ptr<Reply>& reply,
                                                                 JSONFormatter& response)
{
    return waitAndParse(reply, response, L"Ostrand::SettingsManagerClient::Impl::getSettingPropertyResponseList",
                        {L"Property list request timed out. Returning.",
                         L"Property list request failed with DATA_ERROR. Returning.",
                         L"Property list request failed on wait() with unknown error."});
}

bool SettingsManagerClient::Impl::readResponses(const JSONFormatter& response, std::vector<JSONFormatter>& entries)
{
    std::vector<JSONFormatter> read;
    if (!response.getObjectArray(kSettingsResponsesKey, read))
        return false;
    entries = std::move(read);
    return true;
}

bool SettingsManagerClient::Impl::verifyPropertyName(const JSONFormatter& response, const std::wstring& expected)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::Impl::verifyPropertyName";
    std::wstring name;
    if (!response.getString(kSettingsNameKey, name)) {
        warn(function, L"Failed to read settings manager response property name.");
        return false;
    }
    if (name != expected) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function,
                L"Response property name (%ls) does not match expected property name (%ls).", name.c_str(),
                expected.c_str());
        return false;
    }
    return true;
}

bool SettingsManagerClient::Impl::readConfirmation(const JSONFormatter& response, const wchar_t* function,
                                                   const wchar_t* refused)
{
    bool done = false;
    if (!response.getBool(kSettingsStatusKey, done)) {
        warn(function, L"Failed to read settings manager response status.");
        return false;
    }
    if (!done) {
        warn(function, refused);
        return false;
    }
    return true;
}

bool SettingsManagerClient::Impl::getPropertyValue(const JSONFormatter& response, std::wstring& value)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::Impl::getPropertyValue";
    bool status = false;
    if (!response.getBool(kSettingsStatusKey, status)) {
        warn(function, L"Failed to read settings manager response status.");
        return false;
    }
    if (!status)
        return false;
    std::wstring text;
    if (!response.getString(kSettingsValueKey, text)) {
        warn(function, L"Failed to read settings manager response value.");
        return false;
    }
    value = std::move(text);
    return true;
}

bool SettingsManagerClient::Impl::requestSingle(const wchar_t* messageName, const JSONFormatter& request,
                                                const std::wstring& expected, const Timeout& timeout,
                                                const wchar_t* function, const wchar_t* requestFailure,
                                                JSONFormatter& response)
{
    std::shared_ptr<Reply> reply;
    const uint32_t status = sendRequest(messageName, request, timeout, reply);
    if (status != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, requestFailure, moduleStatusToString(status),
                static_cast<unsigned long>(status));
        return false;
    }
    return getSettingPropertyResponse(reply, response) && verifyPropertyName(response, expected);
}

bool SettingsManagerClient::Impl::setProperty(const JSONFormatter& request, const Timeout& timeout)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::Impl::setProperty";
    std::wstring expected;
    request.getString(kSettingsNameKey, expected);
    JSONFormatter response;
    if (!requestSingle(kSetPropertyMessage, request, expected, timeout, function,
                       L"Failed to make set property request. Error code: %ls(%lu)", response))
        return false;
    return readConfirmation(response, function, L"Settings Manager failed to set property value.");
}

bool SettingsManagerClient::Impl::sendSetPropertiesRequest(const JSONFormatter& request, const Timeout& timeout,
                                                           JSONFormatter& response)
{
    std::shared_ptr<Reply> reply;
    const uint32_t status = sendRequest(kSetPropertiesMessage, request, timeout, reply);
    if (status != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::SettingsManagerClient::Impl::sendSetPropertiesRequest",
                L"Failed to make set properties request. Error code: %ls(%lu)", moduleStatusToString(status),
                static_cast<unsigned long>(status));
        return false;
    }
    return getSettingPropertyResponseList(reply, response);
}

SettingsManager::ResultMap SettingsManagerClient::Impl::setProperties(const PropertyMap& properties, bool isVolatile,
                                                                      const Timeout& timeout)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::Impl::setProperties";
    ResultMap result;
    JSONFormatter request;
    for (const auto& property : properties) {
        result[property.first] = false;
        JSONFormatter entry;
        entry.setString(kSettingsNameKey, property.first);
        entry.setString(kSettingsValueKey, property.second);
        entry.setBool(kSettingsVolatileKey, isVolatile);
        request.appendObject(kSettingsPropertiesKey, entry);
    }
    JSONFormatter response;
    if (!sendSetPropertiesRequest(request, timeout, response)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Failed to set properties. Unable to make request.");
        return result;
    }
    std::vector<JSONFormatter> entries;
    if (!readResponses(response, entries)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to set properties. Unable to parse responses.");
        return result;
    }
    readStatusEntries(entries, result, true, function, L"Received unexpected setting property response. Name: %ls.",
                      L"Settings Manager failed to set property value. Property Name: %ls");
    return result;
}

void SettingsManagerClient::Impl::readStatusEntries(const std::vector<JSONFormatter>& entries, ResultMap& result,
                                                    bool requestedOnly, const wchar_t* function,
                                                    const wchar_t* unexpected, const wchar_t* refused)
{
    for (const JSONFormatter& entry : entries) {
        std::wstring name;
        if (!entry.getString(kSettingsNameKey, name)) {
            warn(function, L"Failed to read settings property response name.");
            continue;
        }
        if (requestedOnly && result.find(name) == result.end()) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, unexpected, name.c_str());
            continue;
        }
        bool done = false;
        if (!entry.getBool(kSettingsStatusKey, done)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function,
                    L"Failed to read settings manager response status. Property Name: %ls", name.c_str());
            continue;
        }
        if (!done) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, refused, name.c_str());
            continue;
        }
        result[name] = true;
    }
}

bool SettingsManagerClient::Impl::tryConvert(const std::function<bool()>& conversion)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::Impl::tryConvert";
    try {
        return conversion();
    } catch (const std::invalid_argument&) {
        warn(function, L"Conversion failed due to invalid arguments.");
    } catch (const std::out_of_range&) {
        warn(function, L"Conversion failed, out of range for destination type.");
    } catch (...) {
    }
    return false;
}

} // namespace Ostrand

#include "settings/SettingsManagerClient.h"

#include "Logging/Log.h"
#include "dll/ModuleException.h"
#include "dll/ModuleStatusText.h"
#include "message/MessageBusClient.h"
#include "settings/SettingsManagerClientImpl.h"
#include "settings/SettingsValueText.h"

#include <new>
#include <string>

namespace Ostrand {

namespace {

const wchar_t kSource[] = L"SettingsManagerClient";

void logRequestFailure(const wchar_t* function, const wchar_t* format, uint32_t status)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, format, moduleStatusToString(status),
            static_cast<unsigned long>(status));
}

JSONFormatter nameRequest(const std::wstring& name)
{
    JSONFormatter request;
    request.setString(SettingsManagerClient::kSettingsNameKey, name);
    return request;
}

JSONFormatter setRequest(const std::wstring& name, const std::wstring& value, bool isVolatile)
{
    JSONFormatter request = nameRequest(name);
    request.setString(SettingsManagerClient::kSettingsValueKey, value);
    request.setBool(SettingsManagerClient::kSettingsVolatileKey, isVolatile);
    return request;
}

// One entry per name, or per prefix; a list without entries stays the empty object.
JSONFormatter listRequest(const SettingsManager::NameList& names, bool arePrefixes)
{
    JSONFormatter request;
    for (const std::wstring& name : names) {
        JSONFormatter entry = nameRequest(name);
        if (arePrefixes)
            entry.setBool(SettingsManagerClient::kSettingsIsPrefixKey, true);
        request.appendObject(SettingsManagerClient::kSettingsPropertiesKey, entry);
    }
    return request;
}

SettingsManager::ResultMap allFalse(const SettingsManager::NameList& names)
{
    SettingsManager::ResultMap result;
    for (const std::wstring& name : names)
        result[name] = false;
    return result;
}

// Reads a text property and converts it; `value` is written only when both work.
template <typename T, typename Convert>
bool getConverted(SettingsManager& settings, const std::wstring& name, T& value,
                  const SettingsManager::Timeout& timeout, Convert convert)
{
    std::wstring text;
    if (!settings.getProperty(name, text, timeout))
        return false;
    return SettingsManagerClient::Impl::tryConvert([&]() {
        value = convert(text);
        return true;
    });
}

} // namespace

SettingsManagerClient::SettingsManagerClient(std::shared_ptr<MessageBus> bus)
    : m_impl(std::make_unique<Impl>(std::move(bus)))
{
}

SettingsManagerClient::~SettingsManagerClient() = default;

std::unique_ptr<SettingsManager> SettingsManagerClient::getInstance()
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::getInstance";
    try {
        return std::make_unique<SettingsManagerClient>(nullptr);
    } catch (const ModuleException& error) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to create settings manager client. Caught ModuleException - what: %hs.", error.what());
    } catch (const std::bad_alloc&) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to create settings manager client. Caught bad_alloc - Failed to alllocate resources.");
    } catch (const std::exception& error) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Faield to create setting smanager client. Caught standard exception - what: %hs.", error.what());
    } catch (...) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to create settings manager client. Caught unexpected exception.");
    }
    return nullptr;
}

// ---- single properties --------------------------------------------------

bool SettingsManagerClient::setProperty(const std::wstring& name, double value, const Timeout& timeout)
{
    return setProperty(name, internal::persistentDoubleText(value), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, uint32_t value, const Timeout& timeout)
{
    return setProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, uint64_t value, const Timeout& timeout)
{
    return setProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, unsigned long value, const Timeout& timeout)
{
    return setProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, int64_t value, const Timeout& timeout)
{
    return setProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, int value, const Timeout& timeout)
{
    return setProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, bool value, const Timeout& timeout)
{
    return setProperty(name, std::wstring(value ? L"1" : L"0"), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeout)
{
    if (!value) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::SettingsManagerClient::setProperty",
                L"Property value is null. Returning.");
        return false;
    }
    return setProperty(name, std::wstring(value), timeout);
}

bool SettingsManagerClient::setProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeout)
{
    return m_impl->setProperty(setRequest(name, value, false), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, double value, const Timeout& timeout)
{
    return setVolatileProperty(name, internal::volatileDoubleText(value), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, uint32_t value, const Timeout& timeout)
{
    return setVolatileProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, uint64_t value, const Timeout& timeout)
{
    return setVolatileProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, unsigned long value,
                                                const Timeout& timeout)
{
    return setVolatileProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, int64_t value, const Timeout& timeout)
{
    return setVolatileProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, int value, const Timeout& timeout)
{
    return setVolatileProperty(name, std::to_wstring(value), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, bool value, const Timeout& timeout)
{
    return setVolatileProperty(name, std::wstring(value ? L"1" : L"0"), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, const wchar_t* value,
                                                const Timeout& timeout)
{
    if (!value) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::SettingsManagerClient::setVolatileProperty",
                L"Property value is null. Returning.");
        return false;
    }
    return setVolatileProperty(name, std::wstring(value), timeout);
}

bool SettingsManagerClient::setVolatileProperty(const std::wstring& name, const std::wstring& value,
                                                const Timeout& timeout)
{
    return m_impl->setProperty(setRequest(name, value, true), timeout);
}

bool SettingsManagerClient::getProperty(const std::wstring& name, double& value, const Timeout& timeout)
{
    return getConverted(*this, name, value, timeout, [](const std::wstring& text) { return std::stod(text); });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, uint32_t& value, const Timeout& timeout)
{
    // unsigned long is 32 bits on this platform: stoul refuses what does not fit.
    static_assert(sizeof(unsigned long) == sizeof(uint32_t), "stoul reads 32 bits");
    return getConverted(*this, name, value, timeout,
                        [](const std::wstring& text) -> uint32_t { return std::stoul(text); });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, uint64_t& value, const Timeout& timeout)
{
    return getConverted(*this, name, value, timeout,
                        [](const std::wstring& text) -> uint64_t { return std::stoull(text); });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, unsigned long& value, const Timeout& timeout)
{
    return getConverted(*this, name, value, timeout,
                        [](const std::wstring& text) -> unsigned long { return std::stoul(text); });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, int64_t& value, const Timeout& timeout)
{
    return getConverted(*this, name, value, timeout,
                        [](const std::wstring& text) -> int64_t { return std::stoll(text); });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, int& value, const Timeout& timeout)
{
    return getConverted(*this, name, value, timeout, [](const std::wstring& text) { return std::stoi(text); });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, bool& value, const Timeout& timeout)
{
    return getConverted(*this, name, value, timeout, [](const std::wstring& text) { return std::stoi(text) != 0; });
}

bool SettingsManagerClient::getProperty(const std::wstring& name, std::wstring& value, const Timeout& timeout)
{
    JSONFormatter response;
    return m_impl->requestSingle(kGetPropertyMessage, nameRequest(name), name, timeout,
                                 L"Ostrand::SettingsManagerClient::getProperty",
                                 L"Failed to make get property request. Error code: %ls(%lu)", response) &&
           Impl::getPropertyValue(response, value);
}

bool SettingsManagerClient::removeProperty(const std::wstring& name, const Timeout& timeout)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::removeProperty";
    JSONFormatter response;
    if (!m_impl->requestSingle(kRemovePropertyMessage, nameRequest(name), name, timeout, function,
                               L"Failed to make remove property request. Error code: %ls(%lu)", response))
        return false;
    return Impl::readConfirmation(response, function, L"Settings Manager failed to remove property.");
}

// ---- lists and prefixes -------------------------------------------------

SettingsManager::ResultMap SettingsManagerClient::setProperties(const PropertyMap& properties, const Timeout& timeout)
{
    return m_impl->setProperties(properties, false, timeout);
}

SettingsManager::ResultMap SettingsManagerClient::setVolatileProperties(const PropertyMap& properties,
                                                                        const Timeout& timeout)
{
    return m_impl->setProperties(properties, true, timeout);
}

namespace {

// The entries of one get request for names or prefixes; false when the
// request or its reply failed.
bool fetchEntries(SettingsManagerClient::Impl& impl, const SettingsManager::NameList& names, bool arePrefixes,
                  const SettingsManager::Timeout& timeout, const wchar_t* function,
                  std::vector<JSONFormatter>& entries)
{
    std::shared_ptr<Reply> reply;
    const uint32_t status = impl.sendRequest(SettingsManagerClient::kGetPropertiesMessage,
                                             listRequest(names, arePrefixes), timeout, reply);
    if (status != MODULE_STATUS_SUCCESS) {
        logRequestFailure(function, L"Failed to make get properties request. Error code: %ls(%lu)", status);
        return false;
    }
    JSONFormatter response;
    return impl.getSettingPropertyResponseList(reply, response) &&
           SettingsManagerClient::Impl::readResponses(response, entries);
}

// An entry's value: an entry whose "status" says the property is missing is
// skipped quietly, any other unusable entry with a line.
bool entryValue(const JSONFormatter& entry, std::wstring& value)
{
    bool done = true;
    if (entry.getBool(SettingsManagerClient::kSettingsStatusKey, done) && !done)
        return false;
    return SettingsManagerClient::Impl::getPropertyValue(entry, value);
}

} // namespace

SettingsManager::ResultMap SettingsManagerClient::getProperties(const NameList& names, PropertyMap& values,
                                                                const Timeout& timeout)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::getProperties";
    ResultMap result = allFalse(names);
    std::vector<JSONFormatter> entries;
    if (!fetchEntries(*m_impl, names, false, timeout, function, entries))
        return result;
    for (const JSONFormatter& entry : entries) {
        std::wstring name, value;
        if (!entry.getString(kSettingsNameKey, name)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, L"Failed to read settings property response name.");
            continue;
        }
        auto found = result.find(name);
        if (found == result.end()) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function,
                    L"Received an unexpected setting property. Name: %ls.", name.c_str());
            continue;
        }
        if (!entryValue(entry, value))
            continue;
        found->second = true;
        values[name] = value;
    }
    return result;
}

bool SettingsManagerClient::getPropertiesByPrefix(const NameList& prefixes, PropertyMap& values,
                                                  const Timeout& timeout)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::getPropertiesByPrefix";
    std::vector<JSONFormatter> entries;
    if (!fetchEntries(*m_impl, prefixes, true, timeout, function, entries))
        return false;
    for (const JSONFormatter& entry : entries) {
        std::wstring name, value;
        if (!entry.getString(kSettingsNameKey, name)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function,
                    L"Failed to read settings property response name. Skipping");
            continue;
        }
        if (entryValue(entry, value))
            values[name] = value;
    }
    return true;
}

bool SettingsManagerClient::getPropertiesByPrefix(const std::wstring& prefix, PropertyMap& values,
                                                  const Timeout& timeout)
{
    SettingsManager& settings = *this;
    return settings.getPropertiesByPrefix(NameList{prefix}, values, timeout);
}

namespace {

// The code the "cannot parse" line carries: what made the reply unusable.
uint32_t replyFailureCode(const std::shared_ptr<Reply>& reply)
{
    if (reply && reply->peekStatus() == Reply::TimedOut)
        return MODULE_STATUS_TIMEOUT;
    return MODULE_STATUS_DATA_ERROR;
}

} // namespace

namespace {

// One remove request for names or prefixes. By name, an entry for a name not
// asked for is logged and ignored; by prefix, every property the service
// reports removed is added to the result.
SettingsManager::ResultMap removeList(SettingsManagerClient::Impl& impl, const SettingsManager::NameList& names,
                                      bool arePrefixes, const SettingsManager::Timeout& timeout,
                                      const wchar_t* function, const wchar_t* requestFailure)
{
    SettingsManager::ResultMap result = allFalse(names);
    std::shared_ptr<Reply> reply;
    const uint32_t status = impl.sendRequest(SettingsManagerClient::kRemovePropertiesMessage,
                                             listRequest(names, arePrefixes), timeout, reply);
    if (status != MODULE_STATUS_SUCCESS) {
        logRequestFailure(function, requestFailure, status);
        return result;
    }
    JSONFormatter response;
    if (!impl.getSettingPropertyResponseList(reply, response)) {
        logRequestFailure(function, L"Failed to parse remove properties response. Error code: %ls(%lu)",
                          replyFailureCode(reply));
        return result;
    }
    std::vector<JSONFormatter> entries;
    if (!SettingsManagerClient::Impl::readResponses(response, entries)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                L"Failed to parse statuses from remove properties response.");
        return result;
    }
    SettingsManagerClient::Impl::readStatusEntries(entries, result, !arePrefixes, function,
                                                   L"Received unexpected setting property. Name: %ls.",
                                                   L"Settings Manager failed to remove property. Property Name: %ls");
    return result;
}

} // namespace

SettingsManager::ResultMap SettingsManagerClient::removeProperties(const NameList& names, const Timeout& timeout)
{
    return removeList(*m_impl, names, false, timeout, L"Ostrand::SettingsManagerClient::removeProperties",
                      L"Failed to make remove properties request. Error code: %ls(%lu)");
}

SettingsManager::ResultMap SettingsManagerClient::removePropertiesByPrefix(const NameList& prefixes,
                                                                           const Timeout& timeout)
{
    return removeList(*m_impl, prefixes, true, timeout, L"Ostrand::SettingsManagerClient::removePropertiesByPrefix",
                      L"Failed to make remove properties by prefix request. Error code: %ls(%lu)");
}

bool SettingsManagerClient::removePropertiesByPrefix(const std::wstring& prefix, const Timeout& timeout)
{
    SettingsManager& settings = *this;
    const ResultMap result = settings.removePropertiesByPrefix(NameList{prefix}, timeout);
    const auto found = result.find(prefix);
    return found != result.end() && found->second;
}

// ---- change notices -----------------------------------------------------

std::wstring SettingsManagerClient::prefixPattern(const wchar_t* head, const std::wstring& prefix)
{
    return L"^" + std::wstring(head) + prefix + L".*";
}

namespace {

// Parses a notice and reads its name; logs and answers false when either fails.
bool readNotice(const std::shared_ptr<Message>& message, JSONFormatter& notice, std::wstring& name,
                const wchar_t* function)
{
    if (!message || !notice.parse(message->payload())) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, L"Failed to parse setting property data.");
        return false;
    }
    if (!notice.getString(SettingsManagerClient::kSettingsNameKey, name)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, L"Failed to read setting property name.");
        return false;
    }
    return true;
}

SettingsManagerClient::NameFilter exactName(const std::wstring& name)
{
    return [name](const std::wstring& candidate) { return candidate == name; };
}

SettingsManagerClient::NameFilter anyName()
{
    return [](const std::wstring&) { return true; };
}

} // namespace

size_t SettingsManagerClient::longestNoticeName(const std::wstring& name)
{
    const size_t setHead = std::char_traits<wchar_t>::length(kNotifySetHead);
    const size_t deleteHead = std::char_traits<wchar_t>::length(kNotifyDeleteHead);
    return (setHead > deleteHead ? setHead : deleteHead) + name.size();
}

bool SettingsManagerClient::noticesMatchable(const std::wstring& name)
{
    return longestNoticeName(name) <= MessageBusClient::kLongestMatchedName;
}

uint32_t SettingsManagerClient::onPropertyNotify(std::shared_ptr<Message> message, const NameCallback& callback,
                                                 const NameFilter& filter)
{
    if (!callback)
        return MODULE_STATUS_SUCCESS;
    JSONFormatter notice;
    std::wstring name;
    if (!readNotice(message, notice, name, L"Ostrand::SettingsManagerClient::onPropertyNotify"))
        return MODULE_STATUS_DATA_ERROR;
    if (!filter || filter(name))
        callback(name);
    return MODULE_STATUS_SUCCESS;
}

uint32_t SettingsManagerClient::onPropertyNotifySet(std::shared_ptr<Message> message,
                                                    const NameValueCallback& callback)
{
    const wchar_t* function = L"Ostrand::SettingsManagerClient::onPropertyNotifySet";
    if (!callback)
        return MODULE_STATUS_SUCCESS;
    JSONFormatter notice;
    std::wstring name;
    if (!readNotice(message, notice, name, function))
        return MODULE_STATUS_DATA_ERROR;
    std::wstring value;
    if (!notice.getString(kSettingsValueKey, value)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, function, L"Failed to read setting value.");
        return MODULE_STATUS_DATA_ERROR;
    }
    callback(name, value);
    return MODULE_STATUS_SUCCESS;
}

uint32_t SettingsManagerClient::onPropertyNotifyDelete(std::shared_ptr<Message> message,
                                                       const NameCallback& callback)
{
    if (!callback)
        return MODULE_STATUS_SUCCESS;
    JSONFormatter notice;
    std::wstring name;
    if (!readNotice(message, notice, name, L"Ostrand::SettingsManagerClient::onPropertyNotifyDelete"))
        return MODULE_STATUS_DATA_ERROR;
    callback(name);
    return MODULE_STATUS_SUCCESS;
}

namespace {

bool subscribeByName(MessageBus& bus, const wchar_t* notice, SettingsManager::NameCallback callback,
                     SettingsManagerClient::NameFilter filter)
{
    return bus.subscribe(notice, [callback, filter](std::shared_ptr<Message> message) {
        return SettingsManagerClient::onPropertyNotify(message, callback, filter);
    }) == MODULE_STATUS_SUCCESS;
}

// An empty prefix would follow every property: it subscribes nothing instead.
bool subscribeByPrefix(MessageBus& bus, const wchar_t* head, const std::wstring& prefix,
                       MessageBus::Callback handler)
{
    if (prefix.empty())
        return true;
    return bus.subscribeFilter(SettingsManagerClient::prefixPattern(head, prefix), std::move(handler)) ==
           MODULE_STATUS_SUCCESS;
}

bool unsubscribeByPrefix(MessageBus& bus, const wchar_t* head, const std::wstring& prefix)
{
    if (prefix.empty())
        return true;
    return bus.unsubscribe(SettingsManagerClient::prefixPattern(head, prefix)) == MODULE_STATUS_SUCCESS;
}

} // namespace

bool SettingsManagerClient::subscribePropertySet(NameCallback callback, const std::wstring& name)
{
    return subscribeByName(m_impl->bus(), kPropertySetNotice, std::move(callback), exactName(name));
}

bool SettingsManagerClient::subscribePropertySet(NameCallback callback)
{
    return subscribeByName(m_impl->bus(), kPropertySetNotice, std::move(callback), anyName());
}

bool SettingsManagerClient::subscribePropertyRemoved(NameCallback callback, const std::wstring& name)
{
    return subscribeByName(m_impl->bus(), kPropertyRemovedNotice, std::move(callback), exactName(name));
}

bool SettingsManagerClient::subscribePropertyRemoved(NameCallback callback)
{
    return subscribeByName(m_impl->bus(), kPropertyRemovedNotice, std::move(callback), anyName());
}

bool SettingsManagerClient::subscribePropertySetByPrefix(NameValueCallback callback, const std::wstring& prefix)
{
    return subscribeByPrefix(m_impl->bus(), kNotifySetHead, prefix, [callback](std::shared_ptr<Message> message) {
        return onPropertyNotifySet(message, callback);
    });
}

bool SettingsManagerClient::unsubscribePropertySetByPrefix(const std::wstring& prefix)
{
    return unsubscribeByPrefix(m_impl->bus(), kNotifySetHead, prefix);
}

bool SettingsManagerClient::subscribePropertyDeleteByPrefix(NameCallback callback, const std::wstring& prefix)
{
    return subscribeByPrefix(m_impl->bus(), kNotifyDeleteHead, prefix, [callback](std::shared_ptr<Message> message) {
        return onPropertyNotifyDelete(message, callback);
    });
}

bool SettingsManagerClient::unsubscribePropertyDeleteByPrefix(const std::wstring& prefix)
{
    return unsubscribeByPrefix(m_impl->bus(), kNotifyDeleteHead, prefix);
}

} // namespace Ostrand

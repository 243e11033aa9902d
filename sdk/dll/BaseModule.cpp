#include "dll/BaseModule.h"

#include "dll/ModuleStatusText.h"
#include "message/MessageBusClient.h"

#include "Logging/Log.h"

#include <utility>

namespace Ostrand
{

namespace
{

constexpr const wchar_t* kSource = L"BaseModule";

template <typename Call> MODULE_STATUS forwardTo(MessageBus* bus, Call call)
{
    return bus ? call(*bus) : MODULE_STATUS_INVALID_STATE;
}

} // namespace

BaseModule::BaseModule(std::shared_ptr<Halvex::IOCContainer> container)
    : m_container(container ? std::move(container) : std::make_shared<Halvex::IOCContainer>())
{
}

BaseModule::~BaseModule() = default;

MODULE_STATUS BaseModule::baseInitialize(const std::wstring& name, const std::wstring& secondName,
                                         const ParameterMap& parameters,
                                         std::shared_ptr<internal::ModuleManagerShim> moduleManager,
                                         std::shared_ptr<MessageBus> bus)
{
    m_name = name;
    m_secondName = secondName;
    m_parameters = parameters;
    if (!moduleManager) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::BaseModule::baseInitialize",
                L"Invalid module manager object passed to base initialize.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    m_moduleManager = std::move(moduleManager);
    if (!bus) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::BaseModule::baseInitialize",
                L"Invalid message bus object passed to base initialize.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    m_bus = std::move(bus);
    m_container->RegisterInstance<MessageBus>(Halvex::IOCDefaultRegistrationName, m_bus);
    return MODULE_STATUS_SUCCESS;
}

MODULE_STATUS BaseModule::directMessage(std::shared_ptr<Message> message)
{
    auto* client = dynamic_cast<MessageBusClient*>(m_bus.get());
    if (!client) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::BaseModule::directMessage",
                L"Failed to process direct message. Invalid message bus client.");
        return MODULE_STATUS_INVALID_STATE;
    }
    const MODULE_STATUS status = client->dispatchDirectMessage(std::move(message));
    if (status != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::BaseModule::directMessage",
                L"Failed to process direct message. Module: %ls. Module Status: %ls(%lu)", m_name.c_str(),
                moduleStatusToString(status), static_cast<unsigned long>(status));
        return status;
    }
    return MODULE_STATUS_SUCCESS;
}

MessageBus* BaseModule::bus(const wchar_t* function) const
{
    // A call before baseInitialize stored a bus would otherwise dereference null.
    if (!m_bus)
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"No message bus before base initialize. Returning.");
    return m_bus.get();
}

MODULE_STATUS BaseModule::publish(const std::shared_ptr<Message> message)
{
    return forwardTo(bus(L"Ostrand::BaseModule::publish"), [&](MessageBus& target) { return target.publish(message); });
}

MODULE_STATUS BaseModule::publishEx(const std::shared_ptr<Message> message)
{
    return forwardTo(bus(L"Ostrand::BaseModule::publishEx"),
                     [&](MessageBus& target) { return target.publishEx(message); });
}

MODULE_STATUS BaseModule::request(const std::shared_ptr<Message> message, ReplyCallback callback,
                                  const std::chrono::milliseconds& timeout)
{
    return forwardTo(bus(L"Ostrand::BaseModule::request"),
                     [&](MessageBus& target) { return target.request(message, std::move(callback), timeout); });
}

MODULE_STATUS BaseModule::request(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                  const std::chrono::milliseconds& timeout)
{
    return forwardTo(bus(L"Ostrand::BaseModule::request"),
                     [&](MessageBus& target) { return target.request(message, reply, timeout); });
}

MODULE_STATUS BaseModule::requestEx(const std::shared_ptr<Message> message, ReplyCallback callback,
                                    const std::chrono::milliseconds& timeout)
{
    return forwardTo(bus(L"Ostrand::BaseModule::requestEx"),
                     [&](MessageBus& target) { return target.requestEx(message, std::move(callback), timeout); });
}

MODULE_STATUS BaseModule::requestEx(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                    const std::chrono::milliseconds& timeout)
{
    return forwardTo(bus(L"Ostrand::BaseModule::requestEx"),
                     [&](MessageBus& target) { return target.requestEx(message, reply, timeout); });
}

MODULE_STATUS BaseModule::subscribe(const std::wstring& name, const std::wstring& alias, Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribe"),
                     [&](MessageBus& target) { return target.subscribe(name, alias, std::move(callback)); });
}

MODULE_STATUS BaseModule::subscribe(const std::wstring& name, Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribe"),
                     [&](MessageBus& target) { return target.subscribe(name, std::move(callback)); });
}

MODULE_STATUS BaseModule::subscribeSession(const std::wstring& name, const std::wstring& alias, Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribeSession"),
                     [&](MessageBus& target) { return target.subscribeSession(name, alias, std::move(callback)); });
}

MODULE_STATUS BaseModule::subscribeSession(const std::wstring& name, Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribeSession"),
                     [&](MessageBus& target) { return target.subscribeSession(name, std::move(callback)); });
}

MODULE_STATUS BaseModule::subscribeFilter(const std::wstring& pattern, const std::wstring& alias, Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribeFilter"),
                     [&](MessageBus& target) { return target.subscribeFilter(pattern, alias, std::move(callback)); });
}

MODULE_STATUS BaseModule::subscribeFilter(const std::wstring& pattern, Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribeFilter"),
                     [&](MessageBus& target) { return target.subscribeFilter(pattern, std::move(callback)); });
}

MODULE_STATUS BaseModule::subscribeFilterSession(const std::wstring& pattern, const std::wstring& alias,
                                                 Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribeFilterSession"), [&](MessageBus& target) {
        return target.subscribeFilterSession(pattern, alias, std::move(callback));
    });
}

MODULE_STATUS BaseModule::subscribeFilterSession(const std::wstring& pattern, Callback callback)
{
    return forwardTo(bus(L"Ostrand::BaseModule::subscribeFilterSession"),
                     [&](MessageBus& target) { return target.subscribeFilterSession(pattern, std::move(callback)); });
}

MODULE_STATUS BaseModule::unsubscribe(const std::wstring& alias)
{
    return forwardTo(bus(L"Ostrand::BaseModule::unsubscribe"),
                     [&](MessageBus& target) { return target.unsubscribe(alias); });
}

} // namespace Ostrand

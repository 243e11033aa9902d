#pragma once
#include "dll/Module.h"
#include "dll/ModuleManagerShim.h"
#include "message/MessageBus.h"

#include "IOC/IOCContainer.h"

#include <memory>
#include <string>
#include <unordered_map>

namespace Ostrand {

// The class a product module derives from. It keeps what the host hands over
// at initialisation, registers the bus in the module's container, delivers
// the host's direct messages to the module's own subscribers, and is itself a
// message bus: every bus operation goes to the bus it was handed.
class BaseModule : public Module, public MessageBus {
public:
    using ParameterMap = std::unordered_map<std::wstring, std::wstring>;

    // An empty container is replaced by a new one.
    explicit BaseModule(std::shared_ptr<Halvex::IOCContainer> container = nullptr);
    ~BaseModule() override;
    BaseModule(const BaseModule&) = delete;
    BaseModule& operator=(const BaseModule&) = delete;

    MODULE_STATUS initialize() override { return MODULE_STATUS_SUCCESS; }
    MODULE_STATUS start() override { return MODULE_STATUS_SUCCESS; }
    MODULE_STATUS stop() override { return MODULE_STATUS_SUCCESS; }
    MODULE_STATUS uninitialize() override { return MODULE_STATUS_SUCCESS; }

    // Stores the names and parameters, then the manager and the bus; refuses
    // a missing manager or bus with MODULE_STATUS_INVALID_PARAMETER, keeping
    // what it stored before. The module table calls this implementation.
    virtual MODULE_STATUS baseInitialize(const std::wstring& name, const std::wstring& secondName,
                                         const ParameterMap& parameters,
                                         std::shared_ptr<internal::ModuleManagerShim> moduleManager,
                                         std::shared_ptr<MessageBus> bus);

    // Delivers a message from the host to the module's local subscribers on
    // the calling thread; it is not published.
    MODULE_STATUS directMessage(std::shared_ptr<Message> message);

    // The module's name; the product publishes under it.
    const std::wstring& getName() const { return m_name; }

    // The bus facet: each forwards to the stored bus, and answers
    // MODULE_STATUS_INVALID_STATE before baseInitialize gave one.
    MODULE_STATUS publish(const std::shared_ptr<Message> message) override;
    MODULE_STATUS publishEx(const std::shared_ptr<Message> message) override;
    MODULE_STATUS request(const std::shared_ptr<Message> message, ReplyCallback callback,
                          const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS request(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                          const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS requestEx(const std::shared_ptr<Message> message, ReplyCallback callback,
                            const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS requestEx(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                            const std::chrono::milliseconds& timeout) override;
    MODULE_STATUS subscribe(const std::wstring& name, const std::wstring& alias, Callback callback) override;
    MODULE_STATUS subscribe(const std::wstring& name, Callback callback) override;
    MODULE_STATUS subscribeSession(const std::wstring& name, const std::wstring& alias, Callback callback) override;
    MODULE_STATUS subscribeSession(const std::wstring& name, Callback callback) override;
    MODULE_STATUS subscribeFilter(const std::wstring& pattern, const std::wstring& alias, Callback callback) override;
    MODULE_STATUS subscribeFilter(const std::wstring& pattern, Callback callback) override;
    MODULE_STATUS subscribeFilterSession(const std::wstring& pattern, const std::wstring& alias,
                                         Callback callback) override;
    MODULE_STATUS subscribeFilterSession(const std::wstring& pattern, Callback callback) override;
    MODULE_STATUS unsubscribe(const std::wstring& alias) override;

protected:
    const std::wstring& getSecondName() const { return m_secondName; }
    const ParameterMap& getParameters() const { return m_parameters; }
    const std::shared_ptr<internal::ModuleManagerShim>& getModuleManager() const { return m_moduleManager; }
    const std::shared_ptr<MessageBus>& getMessageBus() const { return m_bus; }
    const std::shared_ptr<Halvex::IOCContainer>& getContainer() const { return m_container; }

private:
    // Null, after a level-4 line, when baseInitialize has not stored a bus.
    MessageBus* bus(const wchar_t* function) const;

    // Declared in the reverse of the order the destructor releases them.
    std::wstring m_name;
    std::wstring m_secondName;
    ParameterMap m_parameters;
    std::shared_ptr<internal::ModuleManagerShim> m_moduleManager;
    std::shared_ptr<MessageBus> m_bus;
    std::shared_ptr<Halvex::IOCContainer> m_container;
};

} // namespace Ostrand

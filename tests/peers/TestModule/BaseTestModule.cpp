#include "BaseTestModule.h"

#include "message/Message.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace TestModule {

BaseTestModule::BaseTestModule(Behaviour behaviour) : m_behaviour(std::move(behaviour)) {}

BaseTestModule::~BaseTestModule() = default;

MODULE_STATUS BaseTestModule::initialize()
{
    std::vector<std::wstring> parameters;
    for (const auto& parameter : getParameters())
        parameters.push_back(parameter.first + L"=" + parameter.second);
    std::sort(parameters.begin(), parameters.end());
    std::wstring line = L"initialize name=" + getName() + L" second=" + getSecondName() + L" parameters=";
    for (const auto& parameter : parameters)
        line += parameter + L";";
    const auto registration = getContainer()->GetFactory<Ostrand::MessageBus>(Halvex::IOCDefaultRegistrationName);
    const bool registered = registration && registration->GetUntypedInstance() == getMessageBus();
    line += registered ? L" container=bus" : L" container=none";
    journal(line);

    const MODULE_STATUS status = m_behaviour.act(L"initialize", MODULE_STATUS_SUCCESS);
    if (status != MODULE_STATUS_SUCCESS)
        return status;
    MODULE_STATUS subscribed =
        subscribe(L"TestModule.Echo", [this](std::shared_ptr<Ostrand::Message> message) { return onEcho(message); });
    if (subscribed == MODULE_STATUS_SUCCESS) {
        subscribed = subscribeFilter(L"TestModule\\.Direct\\..*", L"direct",
                                     [this](std::shared_ptr<Ostrand::Message> message) { return onDirect(message); });
    }
    return subscribed;
}

MODULE_STATUS BaseTestModule::start()
{
    journal(L"start");
    const MODULE_STATUS status = m_behaviour.act(L"start", MODULE_STATUS_SUCCESS);
    if (status != MODULE_STATUS_SUCCESS)
        return status;
    return publish(Ostrand::Message::create(L"TestModule.Started", getName(), L"{}"));
}

MODULE_STATUS BaseTestModule::stop()
{
    journal(L"stop");
    return m_behaviour.act(L"stop", MODULE_STATUS_SUCCESS);
}

MODULE_STATUS BaseTestModule::uninitialize()
{
    journal(L"uninitialize");
    unsubscribe(L"TestModule.Echo");
    unsubscribe(L"direct");
    return m_behaviour.act(L"uninitialize", MODULE_STATUS_SUCCESS);
}

uint32_t BaseTestModule::onEcho(const std::shared_ptr<Ostrand::Message>& message)
{
    journal(L"echo " + message->payload() + L" from " + message->source());
    return publish(message->createReply(L"TestModule.Echo.Reply", getName(), message->payload()));
}

uint32_t BaseTestModule::onDirect(const std::shared_ptr<Ostrand::Message>& message)
{
    const Ostrand::MessageHeader* header = message->header();
    journal(L"message " + message->name() + L" " + message->payload() + L" source=" + message->source() +
            L" size=" + std::to_wstring(header->totalSize) + L" version=" + std::to_wstring(header->version) +
            L" session=" + std::to_wstring(header->session.sessionId));
    return m_behaviour.act(L"message", MODULE_STATUS_SUCCESS);
}

} // namespace TestModule

#include "LogFile.h"

#include "dll/BaseModule.h"
#include "Logging/CLoggingIf.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShim.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Ostrand::BaseModule;
using Ostrand::Message;
using Ostrand::MessageBus;
using Ostrand::internal::ModuleManagerShim;

// A bus of another kind than the client: records each call and answers with
// a chosen status, running the callback it was handed.
class RecordingBus : public MessageBus {
public:
    explicit RecordingBus(MODULE_STATUS answer = 0x80000011u) : m_answer(answer) {}

    MODULE_STATUS publish(const std::shared_ptr<Message> m) override { return note(L"publish " + m->name()); }
    MODULE_STATUS publishEx(const std::shared_ptr<Message> m) override { return note(L"publishEx " + m->name()); }
    MODULE_STATUS request(const std::shared_ptr<Message> m, ReplyCallback callback,
                          const std::chrono::milliseconds& timeout) override
    {
        callback(nullptr);
        return note(L"request callback " + m->name() + L" " + std::to_wstring(timeout.count()));
    }
    MODULE_STATUS request(const std::shared_ptr<Message> m, std::shared_ptr<Ostrand::Reply>& reply,
                          const std::chrono::milliseconds& timeout) override
    {
        reply.reset();
        return note(L"request reply " + m->name() + L" " + std::to_wstring(timeout.count()));
    }
    MODULE_STATUS requestEx(const std::shared_ptr<Message> m, ReplyCallback callback,
                            const std::chrono::milliseconds& timeout) override
    {
        callback(nullptr);
        return note(L"requestEx callback " + m->name() + L" " + std::to_wstring(timeout.count()));
    }
    MODULE_STATUS requestEx(const std::shared_ptr<Message> m, std::shared_ptr<Ostrand::Reply>& reply,
                            const std::chrono::milliseconds& timeout) override
    {
        reply.reset();
        return note(L"requestEx reply " + m->name() + L" " + std::to_wstring(timeout.count()));
    }
    MODULE_STATUS subscribe(const std::wstring& n, const std::wstring& a, Callback c) override
    {
        return noteCalling(L"subscribe " + n + L" " + a, c);
    }
    MODULE_STATUS subscribe(const std::wstring& n, Callback c) override { return noteCalling(L"subscribe " + n, c); }
    MODULE_STATUS subscribeSession(const std::wstring& n, const std::wstring& a, Callback c) override
    {
        return noteCalling(L"subscribeSession " + n + L" " + a, c);
    }
    MODULE_STATUS subscribeSession(const std::wstring& n, Callback c) override
    {
        return noteCalling(L"subscribeSession " + n, c);
    }
    MODULE_STATUS subscribeFilter(const std::wstring& p, const std::wstring& a, Callback c) override
    {
        return noteCalling(L"subscribeFilter " + p + L" " + a, c);
    }
    MODULE_STATUS subscribeFilter(const std::wstring& p, Callback c) override
    {
        return noteCalling(L"subscribeFilter " + p, c);
    }
    MODULE_STATUS subscribeFilterSession(const std::wstring& p, const std::wstring& a, Callback c) override
    {
        return noteCalling(L"subscribeFilterSession " + p + L" " + a, c);
    }
    MODULE_STATUS subscribeFilterSession(const std::wstring& p, Callback c) override
    {
        return noteCalling(L"subscribeFilterSession " + p, c);
    }
    MODULE_STATUS unsubscribe(const std::wstring& a) override { return note(L"unsubscribe " + a); }

    std::vector<std::wstring> calls;
    int callbacksRun = 0;

private:
    MODULE_STATUS note(const std::wstring& call)
    {
        calls.push_back(call);
        return m_answer;
    }
    MODULE_STATUS noteCalling(const std::wstring& call, Callback& callback)
    {
        if (callback)
            callback(nullptr);
        return note(call);
    }

    MODULE_STATUS m_answer;
};

// A shim that accepts every subscription and publishes nothing.
class QuietShim : public Ostrand::MessageBusShim {
public:
    uint32_t publish(const std::shared_ptr<Message>, bool) override
    {
        ++published;
        return 0;
    }
    uint32_t request(const std::shared_ptr<Message>, uint64_t, ReplyFunction*, uint64_t, bool) override { return 0; }
    uint32_t detachReplyCallback() override { return 0; }
    uint32_t subscribe(const std::wstring&, SubscriberFunction*) override { return ++m_nextId; }
    uint32_t subscribeFilter(const std::wstring&, SubscriberFunction*) override { return ++m_nextId; }
    uint32_t unsubscribe(uint32_t) override { return 0; }
    int published = 0;

private:
    uint32_t m_nextId = 0;
};

// The base class with what it keeps made visible.
class InspectableModule : public BaseModule {
public:
    using BaseModule::BaseModule;
    using BaseModule::getContainer;
    using BaseModule::getMessageBus;
    using BaseModule::getModuleManager;
    using BaseModule::getParameters;
    using BaseModule::getSecondName;

    // What the container holds as the module's bus; null when nothing.
    std::shared_ptr<void> registeredBus() const
    {
        const auto factory = getContainer()->GetFactory<MessageBus>(Halvex::IOCDefaultRegistrationName);
        return factory ? factory->GetUntypedInstance() : nullptr;
    }
};

std::shared_ptr<ModuleManagerShim> manager()
{
    return std::make_shared<ModuleManagerShim>(nullptr, nullptr);
}

std::shared_ptr<Message> message(const wchar_t* name)
{
    return Message::create(name, L"source", L"{}");
}

// The error lines of the base module, each as "<function>: <text>".
std::vector<std::wstring> baseModuleErrors(const TestSupport::LogFile& log)
{
    std::vector<std::wstring> lines;
    for (const auto& line : log.find(TestSupport::LogQuery{ETWLogging::LOG_LEVEL_ERROR, L"BaseModule", L"", L""}))
        lines.push_back(line.function + L": " + line.text);
    return lines;
}

TEST(BaseModule, StartsEmptyWithAContainerOfItsOwnOrTheOneGiven)
{
    InspectableModule made;
    EXPECT_EQ(L"", made.getName());
    EXPECT_TRUE(made.getParameters().empty());
    EXPECT_EQ(nullptr, made.getMessageBus());
    ASSERT_NE(nullptr, made.getContainer());
    EXPECT_EQ(nullptr, made.registeredBus());

    auto container = std::make_shared<Halvex::IOCContainer>();
    InspectableModule given(container);
    EXPECT_EQ(container, given.getContainer());
}

TEST(BaseModule, BaseInitializeStoresWhatTheHostHandsOverAndRegistersTheBus)
{
    InspectableModule module;
    auto bus = std::make_shared<RecordingBus>();
    auto host = manager();
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module.baseInitialize(L"Name", L"Second", {{L"a", L"1"}}, host, bus));
    EXPECT_EQ(L"Name", module.getName());
    EXPECT_EQ(L"Second", module.getSecondName());
    EXPECT_EQ((BaseModule::ParameterMap{{L"a", L"1"}}), module.getParameters());
    EXPECT_EQ(host, module.getModuleManager());
    EXPECT_EQ(bus, module.getMessageBus());
    EXPECT_EQ(bus, module.registeredBus());

    // A second call replaces everything, the registration included.
    auto second = std::make_shared<RecordingBus>();
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module.baseInitialize(L"Other", L"", {}, manager(), second));
    EXPECT_EQ(L"Other", module.getName());
    EXPECT_TRUE(module.getParameters().empty());
    EXPECT_EQ(second, module.registeredBus());
}

TEST(BaseModule, BaseInitializeRefusesAMissingManagerOrBusAndKeepsWhatCameBefore)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    InspectableModule withoutManager;
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER,
              withoutManager.baseInitialize(L"Name", L"Second", {{L"a", L"1"}}, nullptr,
                                            std::make_shared<RecordingBus>()));
    EXPECT_EQ(L"Name", withoutManager.getName());
    EXPECT_EQ(L"Second", withoutManager.getSecondName());
    EXPECT_EQ(1u, withoutManager.getParameters().size());
    EXPECT_EQ(nullptr, withoutManager.getMessageBus());
    EXPECT_EQ(nullptr, withoutManager.registeredBus());

    InspectableModule withoutBus;
    auto host = manager();
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, withoutBus.baseInitialize(L"Name", L"Second", {}, host, nullptr));
    EXPECT_EQ(L"Name", withoutBus.getName());
    EXPECT_EQ(host, withoutBus.getModuleManager());
    EXPECT_EQ(nullptr, withoutBus.registeredBus());

    EXPECT_EQ((std::vector<std::wstring>{
                  L"Ostrand::BaseModule::baseInitialize: Invalid module manager object passed to base initialize.",
                  L"Ostrand::BaseModule::baseInitialize: Invalid message bus object passed to base initialize."}),
              baseModuleErrors(log));
}

TEST(BaseModule, EveryBusOperationGoesToTheStoredBus)
{
    InspectableModule module;
    auto bus = std::make_shared<RecordingBus>();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, module.baseInitialize(L"Name", L"", {}, manager(), bus));
    MessageBus& facet = module;
    int callbacks = 0;
    const MessageBus::Callback callback = [&](std::shared_ptr<Message>) {
        ++callbacks;
        return 0u;
    };
    const MessageBus::ReplyCallback replyCallback = [&](std::shared_ptr<Ostrand::Reply>) { ++callbacks; };
    std::shared_ptr<Ostrand::Reply> reply;
    const std::chrono::milliseconds timeout(250);

    const std::vector<MODULE_STATUS> statuses = {
        facet.publish(message(L"P")),
        facet.publishEx(message(L"PX")),
        facet.request(message(L"R"), replyCallback, timeout),
        facet.request(message(L"R"), reply, timeout),
        facet.requestEx(message(L"RX"), replyCallback, timeout),
        facet.requestEx(message(L"RX"), reply, timeout),
        facet.subscribe(L"N", L"A", callback),
        facet.subscribe(L"N", callback),
        facet.subscribeSession(L"N", L"A", callback),
        facet.subscribeSession(L"N", callback),
        facet.subscribeFilter(L"P.*", L"A", callback),
        facet.subscribeFilter(L"P.*", callback),
        facet.subscribeFilterSession(L"P.*", L"A", callback),
        facet.subscribeFilterSession(L"P.*", callback),
        facet.unsubscribe(L"A"),
    };
    EXPECT_EQ(std::vector<MODULE_STATUS>(15, 0x80000011u), statuses);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"publish P", L"publishEx PX", L"request callback R 250", L"request reply R 250",
                  L"requestEx callback RX 250", L"requestEx reply RX 250", L"subscribe N A", L"subscribe N",
                  L"subscribeSession N A", L"subscribeSession N", L"subscribeFilter P.* A", L"subscribeFilter P.*",
                  L"subscribeFilterSession P.* A", L"subscribeFilterSession P.*", L"unsubscribe A"}),
              bus->calls);
    EXPECT_EQ(10, callbacks);
}

TEST(BaseModule, BusOperationsBeforeBaseInitializeAnswerInvalidState)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    InspectableModule module;
    std::shared_ptr<Ostrand::Reply> reply;
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, module.publish(message(L"P")));
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, module.request(message(L"R"), reply, std::chrono::milliseconds(1)));
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, module.subscribe(L"N", [](std::shared_ptr<Message>) { return 0u; }));
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, module.unsubscribe(L"N"));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"Ostrand::BaseModule::publish: No message bus before base initialize. Returning.",
                  L"Ostrand::BaseModule::request: No message bus before base initialize. Returning.",
                  L"Ostrand::BaseModule::subscribe: No message bus before base initialize. Returning.",
                  L"Ostrand::BaseModule::unsubscribe: No message bus before base initialize. Returning."}),
              baseModuleErrors(log));
}

TEST(BaseModule, DirectMessagesReachOnlyMatchingLocalSubscribersOfTheClient)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    InspectableModule module;
    auto shim = std::make_shared<QuietShim>();
    auto client = std::make_shared<Ostrand::MessageBusClient>(shim, nullptr);
    ASSERT_EQ(MODULE_STATUS_SUCCESS, module.baseInitialize(L"Name", L"", {}, manager(), client));
    std::vector<std::wstring> seen;
    auto record = [&](std::shared_ptr<Message> m) {
        seen.push_back(m->name());
        return 0u;
    };
    ASSERT_EQ(MODULE_STATUS_SUCCESS, module.subscribe(L"Exact.Name", record));
    ASSERT_EQ(MODULE_STATUS_SUCCESS, module.subscribeFilter(L"Pattern\\..*", record));

    EXPECT_EQ(MODULE_STATUS_SUCCESS, module.directMessage(message(L"Nobody.Listens")));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module.directMessage(message(L"Exact.Name")));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, module.directMessage(message(L"Pattern.One")));
    EXPECT_EQ((std::vector<std::wstring>{L"Exact.Name", L"Pattern.One"}), seen);
    EXPECT_EQ(0, shim->published);
    EXPECT_TRUE(baseModuleErrors(log).empty());
}

TEST(BaseModule, DirectMessagesNeedTheBusClient)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    InspectableModule beforeInitialize;
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, beforeInitialize.directMessage(message(L"Any")));

    InspectableModule otherBus;
    auto bus = std::make_shared<RecordingBus>();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, otherBus.baseInitialize(L"Name", L"", {}, manager(), bus));
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, otherBus.directMessage(message(L"Any")));
    EXPECT_TRUE(bus->calls.empty());
    const std::wstring line =
        L"Ostrand::BaseModule::directMessage: Failed to process direct message. Invalid message bus client.";
    EXPECT_EQ((std::vector<std::wstring>{line, line}), baseModuleErrors(log));
}

} // namespace

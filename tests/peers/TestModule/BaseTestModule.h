#pragma once
#include "TestModuleBehaviour.h"

#include "dll/BaseModule.h"

namespace TestModule {

// A module on the base class: it journals what the host handed over, and on
// the bus it was given
//   answers "TestModule.Echo" requests with "TestModule.Echo.Reply" (same payload),
//   journals every message whose name starts "TestModule.Direct.",
//   publishes "TestModule.Started" when started,
//   unsubscribes when uninitialised.
class BaseTestModule : public Ostrand::BaseModule {
public:
    explicit BaseTestModule(Behaviour behaviour);
    ~BaseTestModule() override;

    MODULE_STATUS initialize() override;
    MODULE_STATUS start() override;
    MODULE_STATUS stop() override;
    MODULE_STATUS uninitialize() override;

private:
    uint32_t onEcho(const std::shared_ptr<Ostrand::Message>& message);
    uint32_t onDirect(const std::shared_ptr<Ostrand::Message>& message);

    Behaviour m_behaviour;
};

} // namespace TestModule

#pragma once
#include "TestModuleBehaviour.h"

#include "dll/Module.h"

namespace TestModule {

// A module that is nothing but an Ostrand::Module: it journals each call and
// answers as its behaviour says.
class PlainTestModule : public Ostrand::Module {
public:
    explicit PlainTestModule(Behaviour behaviour);
    ~PlainTestModule() override;

    MODULE_STATUS initialize() override;
    MODULE_STATUS start() override;
    MODULE_STATUS stop() override;
    MODULE_STATUS uninitialize() override;

private:
    MODULE_STATUS call(const wchar_t* name);

    Behaviour m_behaviour;
};

} // namespace TestModule

// The product hooks of the test module library.
#include "BaseTestModule.h"
#include "PlainTestModule.h"

namespace Ostrand {

MODULE_STATUS createModule(Module** module)
{
    TestModule::journal(L"createModule");
    const TestModule::Behaviour behaviour = TestModule::Behaviour::fromEnvironment();
    behaviour.act(L"create", MODULE_STATUS_SUCCESS);
    if (const uint32_t failure = behaviour.createFailure())
        return failure;
    if (behaviour.createsNothing())
        *module = nullptr;
    else if (behaviour.createsBaseModule())
        *module = new TestModule::BaseTestModule(behaviour);
    else
        *module = new TestModule::PlainTestModule(behaviour);
    return MODULE_STATUS_SUCCESS;
}

void destroyModule(Module* module)
{
    TestModule::journal(L"destroyModule");
    delete module;
    TestModule::Behaviour::fromEnvironment().act(L"destroy", MODULE_STATUS_SUCCESS);
}

} // namespace Ostrand

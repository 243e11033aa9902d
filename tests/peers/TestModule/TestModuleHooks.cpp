// The product hooks of the test module library.
#include "PlainTestModule.h"

namespace Ostrand {

MODULE_STATUS createModule(Module** module)
{
    TestModule::journal(L"createModule");
    const TestModule::Behaviour behaviour = TestModule::Behaviour::fromEnvironment();
    behaviour.act(L"create", MODULE_STATUS_SUCCESS);
    if (const uint32_t failure = behaviour.createFailure())
        return failure;
    *module = behaviour.createsNothing() ? nullptr : new TestModule::PlainTestModule(behaviour);
    return MODULE_STATUS_SUCCESS;
}

void destroyModule(Module* module)
{
    TestModule::journal(L"destroyModule");
    delete module;
    TestModule::Behaviour::fromEnvironment().act(L"destroy", MODULE_STATUS_SUCCESS);
}

} // namespace Ostrand

#include "PlainTestModule.h"

#include <utility>

namespace TestModule {

PlainTestModule::PlainTestModule(Behaviour behaviour) : m_behaviour(std::move(behaviour)) {}

PlainTestModule::~PlainTestModule() = default;

MODULE_STATUS PlainTestModule::call(const wchar_t* name)
{
    journal(name);
    return m_behaviour.act(name, MODULE_STATUS_SUCCESS);
}

MODULE_STATUS PlainTestModule::initialize()
{
    return call(L"initialize");
}

MODULE_STATUS PlainTestModule::start()
{
    return call(L"start");
}

MODULE_STATUS PlainTestModule::stop()
{
    return call(L"stop");
}

MODULE_STATUS PlainTestModule::uninitialize()
{
    return call(L"uninitialize");
}

} // namespace TestModule

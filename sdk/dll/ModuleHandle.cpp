#include "dll/ModuleHandle.h"

namespace Ostrand {
namespace internal {

namespace {

void destroyModuleIfAny(Module* module)
{
    if (module)
        Ostrand::destroyModule(module);
}

} // namespace

ModuleHandle::ModuleHandle() : m_deleter(&destroyModuleIfAny) {}

ModuleHandle::~ModuleHandle()
{
    // A destructor must not throw; what the product's destroyModule throws here
    // has nowhere to go.
    try {
        destroyModule();
    } catch (...) {
    }
}

void ModuleHandle::destroyModule()
{
    Module* module = m_module;
    m_module = nullptr;
    if (m_deleter)
        m_deleter(module);
}

} // namespace internal
} // namespace Ostrand

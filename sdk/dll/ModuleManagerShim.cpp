#include "dll/ModuleManagerShim.h"

namespace Ostrand {
namespace internal {

ModuleManagerShim::ModuleManagerShim(void* context, ModuleManagerCallback callback)
    : m_context(context), m_callback(callback)
{
}

MODULE_STATUS ModuleManagerShim::callHost(void* first, void* /*second*/, void* third)
{
    if (!m_callback)
        return MODULE_STATUS_INVALID_STATE;
    return m_callback(m_context, first, nullptr, third);
}

} // namespace internal
} // namespace Ostrand

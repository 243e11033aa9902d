#include "dll/CallGuarded.h"

#include "ModuleStatus.h"

namespace Ostrand {
namespace internal {

uint32_t callGuarded(const std::function<uint32_t()>& body) noexcept
{
    try {
        if (!body)
            return MODULE_STATUS_UNKNOWN_EXCEPTION;
        return body();
    } catch (...) {
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

} // namespace internal
} // namespace Ostrand

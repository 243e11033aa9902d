#pragma once
#include <cstdint>
#include <functional>

namespace Ostrand {
namespace internal {

// The barrier at every flat C entry and callback: runs the body and turns an
// empty body or anything thrown into MODULE_STATUS_UNKNOWN_EXCEPTION. Logs nothing.
uint32_t callGuarded(const std::function<uint32_t()>& body) noexcept;

} // namespace internal
} // namespace Ostrand

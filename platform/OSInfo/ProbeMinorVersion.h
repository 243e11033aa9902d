#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>

namespace Halvex {
namespace internal {

// Finds a version number below `limit` with few questions: steps of 8 until
// the number is less than the probe, then halves within that step.
// `less(v)`: the number is less than v; `equal(v)`: it is v. The limit
// itself means not found, also for numbers just above the limit that the
// last step of 8 would otherwise narrow down.
uint32_t ProbeMinorVersion(uint32_t limit, const std::function<bool(uint32_t value, BYTE condition)>& predicate);

} // namespace internal
} // namespace Halvex

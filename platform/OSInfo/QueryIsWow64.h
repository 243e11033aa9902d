#pragma once

namespace Halvex {
namespace internal {

// True only when the system can answer and says this process runs under
// WoW64; a system without the question answers false.
bool QueryIsWow64();

} // namespace internal
} // namespace Halvex

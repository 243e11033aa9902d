#pragma once
#include <cstdint>
#include <string>

namespace Halvex {
namespace internal {

// Reads up to four dotted decimal numbers ("10.0.19041.1", "6.2") into
// `numbers`, which is zeroed first; missing ones stay 0. False for an empty
// text or a piece that is not a decimal number of 32 bits (an empty piece
// included), so that a damaged version text is never taken for a version.
bool ParseVersionNumberText(const std::wstring& text, uint32_t (&numbers)[4]);

} // namespace internal
} // namespace Halvex

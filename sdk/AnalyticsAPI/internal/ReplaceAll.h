#pragma once
#include <string>

namespace Ostrand {
namespace Analytics {
namespace internal {

// Replaces every occurrence of `from` (never empty) by `to`, resuming after each
// inserted text so that it is never matched again. `ignoreCase` compares
// through the classic locale.
void ReplaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to, bool ignoreCase = false);

} // namespace internal
} // namespace Analytics
} // namespace Ostrand

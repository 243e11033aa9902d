#pragma once
#include <cstddef>

namespace Halvex {
namespace internal {

// Refuses, before the JSON reader sees it, outside text that the reader would
// accept but that must not get into a document: an embedded NUL (the reader
// stops there and would take a prefix for the whole text), a UTF-16 surrogate
// without its partner, raw or escaped, and nesting deeper than maxDepth.
bool jsonTextIsAdmissible(const wchar_t* text, size_t length, unsigned maxDepth);

} // namespace internal
} // namespace Halvex

#pragma once
#include <windows.h>

#include <cstddef>
#include <string>

namespace Halvex {
namespace internal {

// `length` wide characters in the thread's ANSI code page, only when the
// bytes read back as the same text. A text the code page cannot hold would
// otherwise come out with substitutes ("?" for every character of another
// script, a near letter for some), and a name would name something else.
// ERROR_SUCCESS; ERROR_NO_UNICODE_TRANSLATION (1113) for such a text; or
// the system's error.
DWORD ToAnsiExactly(const wchar_t* text, size_t length, std::string& out);

} // namespace internal
} // namespace Halvex

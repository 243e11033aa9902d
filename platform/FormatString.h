#pragma once
#include <cstdarg>
#include <cstddef>
#include <string>

namespace Halvex {

// The system's one wide formatter. Conversions follow the Windows wide-printf
// convention: "%s"/"%c" take wide text, "%hs"/"%hc" narrow text, "%ls"/"%lc"
// wide, "%S"/"%C" narrow; "%I64", "%I32", "%I" and "%w" size prefixes are
// understood. The output does not depend on the machine's msvcrt.dll.
//
// Throws std::length_error when the format cannot be formatted, and
// std::bad_alloc when the text does not fit in memory.
std::wstring FormatString(const wchar_t* format, ...);
void FormatStringV(std::wstring& out, const wchar_t* format, va_list args);

// Formats into a caller's buffer of `capacity` characters. The buffer is always
// terminated when capacity > 0. Returns the length the whole text needs (without
// the terminator), so the text was truncated when the result >= capacity; a
// negative result is a formatting error (the buffer then holds an empty text).
int FormatBuffer(wchar_t* buffer, size_t capacity, const wchar_t* format, ...);
int FormatBufferV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args);

namespace internal {
// Rewrites a format of the convention above into the C99 convention of
// mingw-w64's own formatter ("%s" -> "%ls", "%S" -> "%hs", "%I64" -> "%ll", ...).
std::wstring ToC99Format(const wchar_t* format);
} // namespace internal

} // namespace Halvex

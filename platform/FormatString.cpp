#include "FormatString.h"

#include <cstdio>
#include <cwchar>
#include <stdexcept>

namespace Halvex {

namespace internal {

namespace {

bool isFlag(wchar_t c)
{
    return c == L'-' || c == L'+' || c == L' ' || c == L'#' || c == L'0' || c == L'\'';
}

bool isDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// A width or precision: "*" or a run of digits.
void copyCount(const wchar_t*& p, std::wstring& out)
{
    if (*p == L'*') {
        out += *p++;
        return;
    }
    while (isDigit(*p))
        out += *p++;
}

bool isIntegerConversion(wchar_t c)
{
    return c == L'd' || c == L'i' || c == L'u' || c == L'x' || c == L'X' || c == L'o';
}

} // namespace

std::wstring ToC99Format(const wchar_t* format)
{
    std::wstring out;
    if (!format)
        return out;
    const wchar_t* p = format;
    while (*p) {
        if (*p != L'%') {
            out += *p++;
            continue;
        }
        out += *p++; // '%'
        if (*p == L'%') {
            out += *p++;
            continue;
        }
        while (isFlag(*p))
            out += *p++;
        copyCount(p, out); // width
        if (*p == L'.') {
            out += *p++;
            copyCount(p, out); // precision
        }

        // Size prefix, Windows spellings mapped onto C99 ones.
        std::wstring size;
        if (p[0] == L'I' && p[1] == L'6' && p[2] == L'4') {
            size = L"ll";
            p += 3;
        } else if (p[0] == L'I' && p[1] == L'3' && p[2] == L'2') {
            p += 3;
        } else if (p[0] == L'I' && isIntegerConversion(p[1])) {
            size = L"z";
            p += 1;
        } else if (*p == L'w') {
            size = L"l";
            p += 1;
        } else {
            while (*p == L'h' || *p == L'l' || *p == L'L' || *p == L'z' || *p == L'j' || *p == L't')
                size += *p++;
        }

        wchar_t conversion = *p;
        if (conversion == 0) {
            out += size;
            break;
        }
        ++p;
        if (size.empty() && (conversion == L's' || conversion == L'c')) {
            out += L'l';
            out += conversion;
        } else if (size.empty() && (conversion == L'S' || conversion == L'C')) {
            out += L'h';
            out += static_cast<wchar_t>(conversion == L'S' ? L's' : L'c');
        } else {
            out += size;
            out += conversion;
        }
    }
    return out;
}

} // namespace internal

int FormatBufferV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args)
{
    if (buffer && capacity > 0)
        buffer[0] = L'\0';
    if (!format)
        return -1;
    std::wstring c99;
    try {
        c99 = internal::ToC99Format(format);
    } catch (...) {
        return -1;
    }
    va_list measure;
    va_copy(measure, args);
    int needed = __mingw_vsnwprintf(nullptr, 0, c99.c_str(), measure);
    va_end(measure);
    if (needed < 0)
        return needed;
    if (buffer && capacity > 0) {
        int written = __mingw_vsnwprintf(buffer, capacity, c99.c_str(), args);
        if (written < 0)
            buffer[0] = L'\0';
        buffer[capacity - 1] = L'\0';
    }
    return needed;
}

int FormatBuffer(wchar_t* buffer, size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int result = FormatBufferV(buffer, capacity, format, args);
    va_end(args);
    return result;
}

void FormatStringV(std::wstring& out, const wchar_t* format, va_list args)
{
    if (!format)
        throw std::length_error("Halvex::FormatStringV: no format");
    const std::wstring c99 = internal::ToC99Format(format);
    va_list measure;
    va_copy(measure, args);
    int needed = __mingw_vsnwprintf(nullptr, 0, c99.c_str(), measure);
    va_end(measure);
    if (needed < 0)
        throw std::length_error("Halvex::FormatStringV: the format could not be formatted");
    out.assign(static_cast<size_t>(needed), L'\0');
    // The string's own terminator slot takes the formatter's NUL.
    int written = __mingw_vsnwprintf(out.data(), static_cast<size_t>(needed) + 1, c99.c_str(), args);
    if (written < 0) {
        out.clear();
        throw std::length_error("Halvex::FormatStringV: the format could not be formatted");
    }
    out.resize(static_cast<size_t>(written < needed ? written : needed));
}

std::wstring FormatString(const wchar_t* format, ...)
{
    std::wstring out;
    va_list args;
    va_start(args, format);
    try {
        FormatStringV(out, format, args);
    } catch (...) {
        va_end(args);
        throw;
    }
    va_end(args);
    return out;
}

} // namespace Halvex

#include "Text/JSONTextScreen.h"

namespace Halvex {
namespace internal {

namespace {

bool isHighSurrogate(unsigned unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(unsigned unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The four hexadecimal digits at text[at..at+3]; false when there are fewer
// or one is not a digit (the reader then reports the bad escape itself).
bool readHex4(const wchar_t* text, size_t length, size_t at, unsigned& unit)
{
    if (length - at < 4)
        return false;
    unit = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const wchar_t c = text[i];
        unsigned digit;
        if (c >= L'0' && c <= L'9')
            digit = static_cast<unsigned>(c - L'0');
        else if (c >= L'a' && c <= L'f')
            digit = static_cast<unsigned>(c - L'a' + 10);
        else if (c >= L'A' && c <= L'F')
            digit = static_cast<unsigned>(c - L'A' + 10);
        else
            return false;
        unit = unit * 16 + digit;
    }
    return true;
}

} // namespace

bool jsonTextIsAdmissible(const wchar_t* text, size_t length, unsigned maxDepth)
{
    if (!text)
        return false;
    unsigned depth = 0;
    bool inString = false;
    // The reader joins an escaped high surrogate only with an escaped low one
    // that follows at once; a low one on its own it would store as it is.
    bool afterHighEscape = false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned unit = static_cast<unsigned>(text[i]);
        if (unit == 0)
            return false;
        if (isHighSurrogate(unit)) {
            if (i + 1 >= length || !isLowSurrogate(static_cast<unsigned>(text[i + 1])))
                return false;
            ++i;
            afterHighEscape = false;
            continue;
        }
        if (isLowSurrogate(unit))
            return false;
        if (inString) {
            if (unit == L'\\' && i + 1 < length) {
                unsigned escaped = 0;
                if (text[i + 1] == L'u' && readHex4(text, length, i + 2, escaped)) {
                    if (isLowSurrogate(escaped) && !afterHighEscape)
                        return false;
                    afterHighEscape = isHighSurrogate(escaped);
                    i += 5;
                    continue;
                }
                ++i; // the escaped character, whatever it is
            } else if (unit == L'"') {
                inString = false;
            }
            afterHighEscape = false;
            continue;
        }
        if (unit == L'"') {
            inString = true;
        } else if (unit == L'[' || unit == L'{') {
            if (++depth > maxDepth)
                return false;
        } else if ((unit == L']' || unit == L'}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

} // namespace internal
} // namespace Halvex

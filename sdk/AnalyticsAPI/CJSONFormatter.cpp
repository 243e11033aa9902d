#include "AnalyticsAPI/IFormatter.h"

namespace Ostrand {
namespace Analytics {

namespace {

bool IsHighSurrogate(wchar_t unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsLowSurrogate(wchar_t unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// Half of a surrogate pair on its own is no character: a reader that checks
// the encoding refuses the whole record, so it is written as an escape, which
// every reader takes.
bool IsLoneSurrogate(const std::wstring& text, size_t at)
{
    const wchar_t unit = text[at];
    if (IsHighSurrogate(unit))
        return at + 1 >= text.size() || !IsLowSurrogate(text[at + 1]);
    if (IsLowSurrogate(unit))
        return at == 0 || !IsHighSurrogate(text[at - 1]);
    return false;
}

bool NeedsUnicodeEscape(const std::wstring& text, size_t at)
{
    const wchar_t unit = text[at];
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || IsLoneSurrogate(text, at);
}

const wchar_t* ShortEscape(wchar_t unit)
{
    switch (unit) {
    case L'\b': return L"\\b";
    case L'\t': return L"\\t";
    case L'\n': return L"\\n";
    case L'\f': return L"\\f";
    case L'\r': return L"\\r";
    case L'"': return L"\\\"";
    case L'/': return L"\\/";
    case L'\\': return L"\\\\";
    default: return nullptr;
    }
}

size_t EscapedLength(const std::wstring& text)
{
    size_t length = 0;
    for (size_t at = 0; at < text.size(); ++at)
        length += ShortEscape(text[at]) ? 2 : NeedsUnicodeEscape(text, at) ? 6 : 1;
    return length;
}

void AppendEscaped(std::wstring& out, const std::wstring& text)
{
    static const wchar_t hex[] = L"0123456789ABCDEF";
    for (size_t at = 0; at < text.size(); ++at) {
        const wchar_t unit = text[at];
        if (const wchar_t* escape = ShortEscape(unit)) {
            out += escape;
        } else if (NeedsUnicodeEscape(text, at)) {
            const unsigned value = static_cast<unsigned>(unit);
            out += L"\\u";
            out += hex[(value >> 12) & 0xF];
            out += hex[(value >> 8) & 0xF];
            out += hex[(value >> 4) & 0xF];
            out += hex[value & 0xF];
        } else {
            out += unit;
        }
    }
}

} // namespace

bool CJSONFormatter::Format(const DimensionMap& dimensions, std::wstring& output)
{
    output.clear();
    if (dimensions.empty())
        return false;

    size_t length = 1;
    for (const auto& entry : dimensions)
        length += 6 + EscapedLength(entry.first) + EscapedLength(entry.second);
    output.reserve(length);

    output += L'{';
    for (const auto& entry : dimensions) {
        output += L'"';
        AppendEscaped(output, entry.first);
        output += L"\":\"";
        AppendEscaped(output, entry.second);
        output += L"\",";
    }
    output.back() = L'}';
    return true;
}

} // namespace Analytics
} // namespace Ostrand

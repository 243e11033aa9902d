#include "AnalyticsAPI/IFormatter.h"

namespace Ostrand {
namespace Analytics {

namespace {

bool NeedsUnicodeEscape(wchar_t unit)
{
    return unit < 0x20 || (unit >= 0x7F && unit <= 0x9F);
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
    for (wchar_t unit : text)
        length += ShortEscape(unit) ? 2 : NeedsUnicodeEscape(unit) ? 6 : 1;
    return length;
}

void AppendEscaped(std::wstring& out, const std::wstring& text)
{
    static const wchar_t hex[] = L"0123456789ABCDEF";
    for (wchar_t unit : text) {
        if (const wchar_t* escape = ShortEscape(unit)) {
            out += escape;
        } else if (NeedsUnicodeEscape(unit)) {
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

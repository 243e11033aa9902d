#include "JsonText.h"

namespace TestSupport {

std::wstring jsonText(const std::wstring& text)
{
    std::wstring quoted = L"\"";
    for (const wchar_t c : text) {
        if (c == L'\\')
            quoted += L'\\';
        quoted += c;
    }
    return quoted + L"\"";
}

} // namespace TestSupport

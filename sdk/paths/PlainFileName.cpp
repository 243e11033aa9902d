#include "paths/PlainFileName.h"

#include <cwctype>

namespace Ostrand {

namespace {

const size_t kMaxFileName = 255;

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 open a device whatever extension follows.
bool isDeviceName(const std::wstring& name)
{
    std::wstring stem = name.substr(0, name.find(L'.'));
    while (!stem.empty() && stem.back() == L' ')
        stem.pop_back();
    for (wchar_t& c : stem)
        c = static_cast<wchar_t>(std::towupper(c));
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL" || stem == L"CONIN$" ||
        stem == L"CONOUT$")
        return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

} // namespace

bool IsPlainFileName(const std::wstring& name)
{
    if (name.empty() || name.size() > kMaxFileName)
        return false;
    for (wchar_t c : name) {
        if (c < 32)
            return false;
        switch (c) {
        case L'\\': case L'/': case L':': case L'*': case L'?': case L'"': case L'<': case L'>': case L'|':
            return false;
        default:
            break;
        }
    }
    if (name.find(L"..") != std::wstring::npos)
        return false;
    if (name.back() == L'.' || name.back() == L' ')
        return false;
    return !isDeviceName(name);
}

} // namespace Ostrand

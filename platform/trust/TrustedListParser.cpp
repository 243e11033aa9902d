#include "trust/TrustedListParser.h"

namespace Halvex {
namespace trust {

namespace {

std::wstring trim(const std::wstring& s)
{
    size_t b = s.find_first_not_of(L" \t");
    if (b == std::wstring::npos)
        return {};
    size_t e = s.find_last_not_of(L" \t");
    return s.substr(b, e - b + 1);
}

bool startsWith(const std::wstring& s, const wchar_t* prefix)
{
    return s.compare(0, wcslen(prefix), prefix) == 0;
}

int hexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

const std::vector<std::wstring>* section(const TrustedListSections& sections, const wchar_t* name)
{
    auto it = sections.find(name);
    return it == sections.end() || it->second.empty() ? nullptr : &it->second;
}

} // namespace

bool TrustedListParse(const std::string& text, TrustedListSections& sections)
{
    sections.clear();
    std::vector<std::wstring>* current = nullptr;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::wstring raw;
        raw.reserve(end - pos);
        for (size_t i = pos; i < end; ++i)
            raw += static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
        pos = end + 1;
        // Files written on Windows end their lines with CR LF.
        if (!raw.empty() && raw.back() == L'\r')
            raw.pop_back();
        std::wstring line = trim(raw);
        if (line.empty() || startsWith(line, L"/*") || startsWith(line, L"//") || startsWith(line, L"*/"))
            continue;
        if (line.size() >= 2 && line.front() == L'[' && line.back() == L']') {
            std::wstring name = trim(line.substr(1, line.size() - 2));
            if (name.empty())
                return false;
            current = &sections[name];
            continue;
        }
        if (current)
            current->push_back(line);
    }
    return true;
}

bool TrustedListBuild(const TrustedListSections& sections, TrustedListContent& content)
{
    content = TrustedListContent{};
    const auto* ver = section(sections, L"VER");
    if (!ver || ver->size() != 1)
        return false;
    const std::wstring& number = ver->front();
    if (number.empty() || number.size() > 9)
        return false;
    DWORD version = 0;
    for (wchar_t c : number) {
        if (c < L'0' || c > L'9')
            return false;
        version = version * 10 + static_cast<DWORD>(c - L'0');
    }

    TrustedListContent built;
    built.version = version;
    if (const auto* org = section(sections, L"ORG")) {
        built.hasNames = true;
        built.names = *org;
    }
    if (const auto* ser = section(sections, L"SER")) {
        built.hasSerials = true;
        built.serials = *ser;
    }
    if (const auto* sha = section(sections, L"SHA")) {
        for (const std::wstring& line : *sha) {
            std::vector<BYTE> bytes;
            for (wchar_t c : line)
                if (hexValue(c) < 0)
                    return false;
            if (line.size() % 2 == 0)
                for (size_t i = 0; i < line.size(); i += 2)
                    bytes.push_back(static_cast<BYTE>(hexValue(line[i]) * 16 + hexValue(line[i + 1])));
            built.thumbprints.push_back(std::move(bytes));
        }
    }
    content = std::move(built);
    return true;
}

} // namespace trust
} // namespace Halvex

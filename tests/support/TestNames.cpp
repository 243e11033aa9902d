#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace TestSupport {

std::wstring widen(const std::string& text)
{
    if (text.empty())
        return {};
    int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), count);
    return out;
}

std::string narrow(const std::wstring& text)
{
    if (text.empty())
        return {};
    int count = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(count), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), count, nullptr, nullptr);
    return out;
}

std::wstring uniqueName(const std::wstring& stem)
{
    std::wstring name = stem.empty() ? L"T" : stem;
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        name += L"_" + widen(info->test_suite_name()) + L"_" + widen(info->name());
    }
    for (auto& c : name)
        if (c == L'/' || c == L'\\')
            c = L'_';
    name += L"_" + std::to_wstring(GetCurrentProcessId());
    return name;
}

} // namespace TestSupport

#include "Replacements/FindPlaceholder.h"

#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

using Halvex::internal::FindPlaceholder;

namespace {

std::vector<std::wstring> tokensOf(const std::wstring& text)
{
    std::vector<std::wstring> tokens;
    size_t from = 0, begin = 0, length = 0;
    while (FindPlaceholder(text, from, begin, length)) {
        tokens.push_back(text.substr(begin, length));
        from = begin + length;
    }
    return tokens;
}

TEST(FindPlaceholderTest, TokensHoldANameWithoutDollarOrParentheses)
{
    using Tokens = std::vector<std::wstring>;
    struct Case {
        std::wstring text;
        Tokens tokens;
    } const cases[] = {
        {L"", {}},
        {L"no tokens", {}},
        {L"$(A)", {L"$(A)"}},
        {L"x$(A)y$(B.C)z", {L"$(A)", L"$(B.C)"}},
        {L"$(A)$(B)", {L"$(A)", L"$(B)"}},
        {L"$()", {}},
        {L"$(A", {}},
        {L"$ (A)", {}},
        {L"$(a b)", {L"$(a b)"}},
        {L"$($(A))", {L"$(A)"}},
        {L"$(A(B))", {}},
        {L"$(A$(B)", {L"$(B)"}},
        {L"$(A)B)", {L"$(A)"}},
        {L"$$(A)", {L"$(A)"}},
        {L"$(()$(A)", {L"$(A)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tokensOf(c.text), c.tokens) << TestSupport::narrow(c.text);
}

struct LongScan {
    std::wstring text;
    std::vector<std::wstring> tokens;
};

DWORD WINAPI scanOnSmallStack(void* argument)
{
    auto* scan = static_cast<LongScan*>(argument);
    scan->tokens = tokensOf(scan->text);
    return 0;
}

// Text from outside may be long: the scan must neither recurse nor take long.
TEST(FindPlaceholderTest, VeryLongTextIsScannedOnASmallStack)
{
    const std::wstring longName(300000, L'n');
    LongScan scan;
    scan.text = L"$(" + longName + L")" + std::wstring(200000, L'(') + L"$(" + longName +
                std::wstring(100000, L'$') + L"(" + L"$(end)";
    HANDLE thread = CreateThread(nullptr, 64 * 1024, scanOnSmallStack, &scan, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                 nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    ASSERT_EQ(scan.tokens.size(), 2u);
    EXPECT_EQ(scan.tokens[0], L"$(" + longName + L")");
    EXPECT_EQ(scan.tokens[1], L"$(end)");
}

} // namespace

#include "dll/CallGuarded.h"
#include "dll/ModuleException.h"
#include "dll/ModuleStatusText.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

TEST(ModuleStatusToString, NamesEveryCodeAndCallsTheGapsUnknown)
{
    const struct {
        MODULE_STATUS status;
        const wchar_t* name;
    } cases[] = {
        {0x00000000u, L"MODULE_STATUS_SUCCESS"},
        {0x80000001u, L"MODULE_STATUS_NOT_SUPPORTED"},
        {0x80000008u, L"MODULE_STATUS_INVALID_PARAMETER"},
        {0x8000000Fu, L"MODULE_STATUS_UNKNOWN_EXCEPTION"},
        {0x80000015u, L"MODULE_STATUS_SESSION_INVALID"},
        {0x80000016u, L"MODULE_STATUS_UNKNOWN"},
        {0x800000FEu, L"MODULE_STATUS_UNKNOWN"},
        {0x800000FFu, L"MODULE_STATUS_INVALID_STATE"},
        {0x80000000u, L"MODULE_STATUS_UNKNOWN"},
        {0x00000001u, L"MODULE_STATUS_UNKNOWN"},
        {0xFFFFFFFFu, L"MODULE_STATUS_UNKNOWN"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::wstring(c.name), Ostrand::moduleStatusToString(c.status)) << std::hex << c.status;
}

TEST(CallGuarded, ReturnsTheBodysStatusAndTurnsEveryThrowIntoUnknownException)
{
    using Ostrand::internal::callGuarded;
    EXPECT_EQ(0x80000002u, callGuarded([] { return 0x80000002u; }));
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, callGuarded({}));
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION,
              callGuarded([]() -> uint32_t { throw Ostrand::ModuleException("Failed to load library"); }));
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, callGuarded([]() -> uint32_t { throw std::bad_alloc(); }));
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, callGuarded([]() -> uint32_t { throw 42; }));
}

} // namespace

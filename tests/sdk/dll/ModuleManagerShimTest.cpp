#include "dll/ModuleManagerShim.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct HostCall {
    void* context = nullptr;
    void* first = nullptr;
    void* second = reinterpret_cast<void*>(uintptr_t{1});
    void* third = nullptr;
};

HostCall g_seen;

MODULE_STATUS hostCallback(void* context, void* first, void* second, void* third)
{
    g_seen = HostCall{context, first, second, third};
    return 0x80000011u;
}

void* pointer(uintptr_t value)
{
    return reinterpret_cast<void*>(value);
}

TEST(ModuleManagerShim, CallsTheHostWithItsContextAndWithoutTheSecondArgument)
{
    Ostrand::internal::ModuleManagerShim shim(pointer(0xC0), &hostCallback);
    EXPECT_EQ(0x80000011u, shim.callHost(pointer(0xA), pointer(0xB), pointer(0xC)));
    EXPECT_EQ(pointer(0xC0), g_seen.context);
    EXPECT_EQ(pointer(0xA), g_seen.first);
    EXPECT_EQ(nullptr, g_seen.second);
    EXPECT_EQ(pointer(0xC), g_seen.third);
}

TEST(ModuleManagerShim, WithoutAHostCallbackAnswersInvalidState)
{
    Ostrand::internal::ModuleManagerShim shim(pointer(0xC0), nullptr);
    EXPECT_EQ(MODULE_STATUS_INVALID_STATE, shim.callHost(pointer(0xA), pointer(0xB), pointer(0xC)));
}

} // namespace

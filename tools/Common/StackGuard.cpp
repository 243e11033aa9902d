// The stack-protector guard of the tools, in place of the compiler's runtime
// library. That library seeds its guard in a static constructor through
// advapi32's random-number functions, which would bind advapi32 before the
// entry point restricts the library search. These definitions are linked into
// each tool as an object, so the library's own are never pulled in. The seed
// mixes the same kernel32 sources the system's own C runtime uses for its
// stack cookie.
#include <windows.h>

#include <cstdint>

extern "C" {

uintptr_t __stack_chk_guard = 0;

[[noreturn]] void __stack_chk_fail()
{
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_trap();
}

[[noreturn]] void __stack_chk_fail_local() { __stack_chk_fail(); }

// A fortified copy found its destination too small.
[[noreturn]] void __chk_fail() { __stack_chk_fail(); }

} // extern "C"

namespace {

__attribute__((constructor(101))) void seedStackGuard()
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    LARGE_INTEGER counter = {};
    QueryPerformanceCounter(&counter);
    uint64_t seed = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    seed ^= static_cast<uint64_t>(counter.QuadPart) << 16;
    seed ^= static_cast<uint64_t>(GetCurrentProcessId()) << 40;
    seed ^= static_cast<uint64_t>(GetCurrentThreadId()) << 8;
    seed ^= GetTickCount64();
    seed ^= reinterpret_cast<uintptr_t>(&now);
    // A zero byte at the bottom stops string overruns from copying the guard.
    __stack_chk_guard = static_cast<uintptr_t>(seed & ~static_cast<uint64_t>(0xFF));
    if (__stack_chk_guard == 0)
        __stack_chk_guard = 0x2B992DDFA2320000ULL;
}

} // namespace

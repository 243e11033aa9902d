// A library with nothing to do: the trust kit signs, damages and strips
// copies of it, and the loading tests check which of them get mapped.
#include <windows.h>

extern "C" __declspec(dllexport) DWORD TrustSampleAnswer()
{
    return 42;
}

// A library of the framework family as a product would ship one: the four
// exports and a version resource. CreateObject knows no table version, so a
// loader that asks it for one gets none. Built a second time without
// GetVersionNum, as an incomplete library.
#include <windows.h>

#include <cstdint>

extern "C" {

__declspec(dllexport) const void* CreateObject(uint32_t)
{
    return nullptr;
}

__declspec(dllexport) void ReleaseObject()
{
}

__declspec(dllexport) const char* GetVersionStr()
{
    return "3.2.1";
}

#ifndef FAMILY_DOUBLE_WITHOUT_VERSION_NUM
__declspec(dllexport) uint32_t GetVersionNum()
{
    return 3002001;
}
#endif

} // extern "C"

// A library that imports the marking library by its file name,
// "trust_mark_double.dll", so that a test sees where the loader looked for
// the import of a checked library: the mark's DllMain runs wherever it was
// found.
#include <windows.h>

extern "C" __declspec(dllimport) DWORD TrustMarkAnswer();

extern "C" __declspec(dllexport) DWORD TrustImporterAnswer()
{
    return TrustMarkAnswer() + 1;
}

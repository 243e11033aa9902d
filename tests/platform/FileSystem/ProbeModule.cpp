// Loaded by the file-system tests from copies in folders of their own.
extern "C" __declspec(dllexport) int FsProbe()
{
    return 42;
}

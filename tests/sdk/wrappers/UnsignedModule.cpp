// An unsigned library: the wrapper's verified load must refuse it.
extern "C" __declspec(dllexport) int UnsignedProbe()
{
    return 7;
}

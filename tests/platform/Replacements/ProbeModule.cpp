// Loaded by the replacements tests from copies in folders of their own.
extern "C" __declspec(dllexport) int ReplacementsProbe()
{
    return 7;
}

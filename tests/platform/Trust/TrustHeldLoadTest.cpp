// The file a trust-checked load checks is the file it maps: not a copy that
// replaced it in between, not another file that the same name stands for.
#include "FileSwapper.h"
#include "GlobalListScope.h"
#include "TrustKit.h"

#include "ScratchFolder.h"
#include "TestNames.h"
#include "WaitUntil.h"

#include "trust/TrustLoad.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace TrustTests;

namespace {

class TrustedKitLoad : public ::testing::Test {
protected:
    void SetUp() override { scope.writeList(listText("8", {kitThumbprintText("root")})); }
    GlobalListScope scope;
};

// The signed sample exports TrustSampleAnswer; the unsigned stand-in (the
// validation library double) does not, so each load tells which file it got.
bool isSignedSample(HMODULE module)
{
    return GetProcAddress(module, "TrustSampleAnswer") != nullptr;
}

TEST_F(TrustedKitLoad, AFileSwappedWhileItIsCheckedIsNeverLoadedUnsigned)
{
    TestSupport::ScratchFolder folder(L"swap");
    const std::wstring target = folder.file(L"swapped.dll");
    ASSERT_TRUE(CopyFileW(kitFile(L"sample-signed.dll").c_str(), target.c_str(), FALSE));
    FileSwapper swapper(target, kitFile(L"Drellin-unsigned.dll"), kitFile(L"sample-signed.dll"));

    long loads = 0, refusals = 0, unsignedLoads = 0, rounds = 0;
    const auto raced = [&] { return swapper.swaps() > 10 && loads > 0 && refusals > 0; };
    // Until the race has surely been run both ways (many swaps, loads and
    // refusals), however slow the machine; a fault shows long before. Each
    // round waits for the swapper's next swap: on a loaded machine the loads
    // alone could leave it no turn at all. The backstop, well inside the
    // test's own time-out, only keeps such a swapper from holding the suite up.
    TestSupport::waitUntil(
        [&] {
            HMODULE module = TrustLoadLibraryExW(target.c_str(), 0);
            if (!module) {
                ++refusals;
            } else {
                ++loads;
                if (!isSignedSample(module))
                    ++unsignedLoads;
                FreeLibrary(module);
            }
            // Each round starts after a swap count of the other parity than
            // the round before: the count's parity tells which file the last
            // swap put in place, so the rounds start on each file in turn.
            // Waiting for any swap alone let every round start on the
            // unsigned file when a load lasted an even number of swaps.
            const long swapped = swapper.swaps();
            ++rounds;
            TestSupport::waitUntil(
                [&] {
                    const long now = swapper.swaps();
                    return now != swapped && now % 2 == rounds % 2;
                },
                std::chrono::seconds(5));
            return unsignedLoads > 0 || (swapper.swaps() > 50 && loads > 50 && refusals > 0);
        },
        std::chrono::seconds(90));
    swapper.stop();
    RecordProperty("loads", static_cast<int>(loads));
    RecordProperty("refusals", static_cast<int>(refusals));
    RecordProperty("swaps", static_cast<int>(swapper.swaps()));
    EXPECT_EQ(0, unsignedLoads) << loads << " loads, " << refusals << " refusals, " << swapper.swaps() << " swaps";
    EXPECT_TRUE(raced()) << "the race was never run: " << loads << " loads, " << refusals << " refusals, "
                         << swapper.swaps() << " swaps";
}

// A relative name stands for the file the loader would map: a bare name, or
// a relative path, is looked for beside the program before the current
// folder. A signed copy in the current folder must not vouch for an unsigned
// one beside the program.
struct RelativeCase {
    const char* label;
    bool dotted; // ".\name" rather than "name"
    const wchar_t* inCurrent;
    const wchar_t* besideTheProgram;
    bool loads; // the copy beside the program
};

class RelativeName : public TrustedKitLoad, public ::testing::WithParamInterface<RelativeCase> {
protected:
    void SetUp() override
    {
        TrustedKitLoad::SetUp();
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));
        wchar_t program[MAX_PATH] = {};
        DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
        ASSERT_TRUE(n > 0 && n < MAX_PATH);
        std::wstring folder(program, n);
        folder.resize(folder.find_last_of(L'\\'));
        name = L"relative-probe-" + std::to_wstring(GetCurrentProcessId()) + L".dll";
        besideProgram = folder + L"\\" + name;
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_previous);
        DeleteFileW(besideProgram.c_str());
    }
    static std::wstring fileOf(HMODULE module)
    {
        wchar_t path[MAX_PATH] = {};
        DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
        return std::wstring(path, n < MAX_PATH ? n : 0);
    }

    TestSupport::ScratchFolder current{L"current"};
    std::wstring name, besideProgram;
    wchar_t m_previous[MAX_PATH] = {};
};

TEST_P(RelativeName, TheFileCheckedIsTheFileTheLoaderWouldMap)
{
    const RelativeCase& c = GetParam();
    ASSERT_TRUE(CopyFileW(kitFile(c.inCurrent).c_str(), current.file(name).c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(kitFile(c.besideTheProgram).c_str(), besideProgram.c_str(), FALSE));
    const std::wstring spelled = c.dotted ? L".\\" + name : name;
    SetLastError(0);
    HMODULE module = TrustLoadLibraryExW(spelled.c_str(), 0);
    const DWORD error = GetLastError();
    if (c.loads) {
        ASSERT_NE(nullptr, module);
        EXPECT_EQ(0, lstrcmpiW(besideProgram.c_str(), fileOf(module).c_str())) << TestSupport::narrow(fileOf(module));
    } else {
        EXPECT_EQ(nullptr, module) << TestSupport::narrow(fileOf(module));
        EXPECT_EQ(5u, error);
        EXPECT_EQ(nullptr, GetModuleHandleW(besideProgram.c_str())) << "mapped all the same";
    }
    if (module)
        FreeLibrary(module);
}

INSTANTIATE_TEST_SUITE_P(
    Names, RelativeName,
    ::testing::Values(RelativeCase{"BareSignedOnlyInTheCurrentFolder", false, L"sample-signed.dll",
                                   L"sample-unsigned.dll", false},
                      RelativeCase{"BareSignedBesideTheProgram", false, L"sample-unsigned.dll", L"sample-signed.dll",
                                   true},
                      RelativeCase{"PathSignedOnlyInTheCurrentFolder", true, L"sample-signed.dll",
                                   L"sample-unsigned.dll", false},
                      RelativeCase{"PathSignedBesideTheProgram", true, L"sample-unsigned.dll", L"sample-signed.dll",
                                   true}),
    [](const ::testing::TestParamInfo<RelativeCase>& info) { return std::string(info.param.label); });

} // namespace

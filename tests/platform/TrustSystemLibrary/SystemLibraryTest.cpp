#include "LoadMark.h"
#include "TrustKit.h"

#include "trust/TrustedList.h"

#include <gtest/gtest.h>

namespace {

TEST(PlantedCabinet, TheCabinetUpdateTakesCabinetDllFromTheSystemFolderOnly)
{
    LoadMark::Watch mark(L"CabinetDoubleLoaded");
    ASSERT_TRUE(mark.ready());
    // A cabinet without a list file: nothing is installed, but the cabinet
    // library is loaded to look.
    EXPECT_EQ(0, CabinetExtractTrustedList(TrustTests::kitFile(L"cabinet-unsigned-without-list.cab").c_str()));
    EXPECT_FALSE(mark.seen()) << "the Cabinet.dll beside the program ran";

    // The double is where the ordinary search finds it first.
    ASSERT_EQ(nullptr, GetModuleHandleW(L"Cabinet.dll")) << "still loaded: the next load would not search";
    HMODULE planted = LoadLibraryW(L"Cabinet.dll");
    ASSERT_NE(nullptr, planted);
    EXPECT_TRUE(mark.seen()) << "the set-up does not plant the library where the search finds it";
    FreeLibrary(planted);
}

} // namespace

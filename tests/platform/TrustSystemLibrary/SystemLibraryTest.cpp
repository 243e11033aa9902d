#include "TrustKit.h"

#include "trust/TrustedList.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace {

class PlantedCabinet : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t name[64];
        swprintf(name, 64, L"Local\\CabinetDoubleLoaded-%lu", GetCurrentProcessId());
        mark = CreateEventW(nullptr, TRUE, FALSE, name);
        ASSERT_NE(nullptr, mark);
    }
    void TearDown() override { CloseHandle(mark); }
    bool marked() const { return WaitForSingleObject(mark, 0) == WAIT_OBJECT_0; }

    HANDLE mark = nullptr;
};

TEST_F(PlantedCabinet, TheCabinetUpdateTakesCabinetDllFromTheSystemFolderOnly)
{
    // A cabinet without a list file: nothing is installed, but the cabinet
    // library is loaded to look.
    EXPECT_EQ(0, CabinetExtractTrustedList(TrustTests::kitFile(L"cabinet-unsigned-without-list.cab").c_str()));
    EXPECT_FALSE(marked()) << "the Cabinet.dll beside the program ran";

    // The double is where the ordinary search finds it first.
    ASSERT_EQ(nullptr, GetModuleHandleW(L"Cabinet.dll")) << "still loaded: the next load would not search";
    HMODULE planted = LoadLibraryW(L"Cabinet.dll");
    ASSERT_NE(nullptr, planted);
    EXPECT_TRUE(marked()) << "the set-up does not plant the library where the search finds it";
    FreeLibrary(planted);
}

} // namespace

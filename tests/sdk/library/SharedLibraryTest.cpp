// The shared-library loader over real files: the trust kit's signed, unsigned
// and tampered libraries, trusted or refused by the process's trust check.
#include "LibraryFiles.h"
#include "LoadMark.h"

#include "LogFile.h"
#include "TestNames.h"

#include "dll/ModuleException.h"
#include "dll/SharedLibrary.h"

#include "ModuleStatus.h"

#include <gtest/gtest.h>

namespace {

using LibraryTests::LibraryFolder;
using LibraryTests::uniqueLibraryName;
using Ostrand::LibraryDescriptor;
using Ostrand::SharedLibrary;

// The framework's install folder as the registry would give it.
class InstallFolderRegistry : public Ostrand::RegistryAPI {
public:
    explicit InstallFolderRegistry(std::wstring folder) : m_folder(std::move(folder)) {}
    uint32_t readString(const std::wstring&, const std::wstring& valueName, std::wstring& text) override
    {
        if (valueName != L"Install Dir")
            return MODULE_STATUS_UNSUCCESSFUL;
        text = m_folder;
        return 0;
    }

private:
    std::wstring m_folder;
};

std::shared_ptr<Ostrand::PathHelpers> installedIn(const std::wstring& folder)
{
    return std::make_shared<Ostrand::PathHelpers>(nullptr, nullptr, std::make_shared<InstallFolderRegistry>(folder));
}

bool mapped(const std::wstring& path)
{
    return GetModuleHandleW(path.c_str()) != nullptr;
}

using GetVersionNumFunction = uint32_t (*)();

TEST(SharedLibrary, ATrustedLibraryFromTheFirstFolderThatHoldsItWithItsFourExports)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    LibraryFolder empty, installed;
    const std::wstring name = uniqueLibraryName(L"family");
    const std::wstring path = installed.install(L"family-signed.dll", name);
    const LibraryDescriptor asked{name, {empty.path(), L"$(Strova.InstallDir)"}};
    {
        SharedLibrary library(asked, nullptr, installedIn(installed.path()));
        const Ostrand::LibraryExports* exports = library.getFunctions();
        ASSERT_NE(nullptr, exports);
        EXPECT_NE(nullptr, exports->createObject);
        EXPECT_NE(nullptr, exports->releaseObject);
        EXPECT_NE(nullptr, exports->getVersionStr);
        ASSERT_NE(nullptr, exports->getVersionNum);
        EXPECT_EQ(3002001u, reinterpret_cast<GetVersionNumFunction>(exports->getVersionNum)());
        EXPECT_TRUE(mapped(path));
    }
    EXPECT_FALSE(mapped(path)) << "freed with the object";
    // The placeholder was expanded in the loader's own copy.
    EXPECT_EQ(L"$(Strova.InstallDir)", asked.searchPaths[1]);
    EXPECT_TRUE(log.contains(1, L"Loading " + name + L" from " + installed.path() + L"."));
}

// Every way a library is refused: the exception, the lines, and nothing left mapped.
struct RefusalCase {
    const char* label;
    const wchar_t* kitName; // installed under the case's name; null: nothing installed
    bool frameworkName;     // installed as the bus library, else under a name of its own
    bool blocked;           // the block list names the installed version
    const char* exception;
    std::vector<std::pair<uint32_t, std::wstring>> lines; // "%n" stands for the name, "%p" for the full path
};

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

std::wstring filled(std::wstring text, const std::wstring& name, const std::wstring& path)
{
    for (const auto& mark : {std::make_pair(std::wstring(L"%n"), name), std::make_pair(std::wstring(L"%p"), path)})
        for (size_t at = text.find(mark.first); at != std::wstring::npos; at = text.find(mark.first))
            text.replace(at, mark.first.size(), mark.second);
    return text;
}

TEST_P(Refusal, ThrowsLogsAndLeavesNothingLoaded)
{
    const RefusalCase& c = GetParam();
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    LibraryFolder folder;
    const std::wstring name = c.frameworkName ? L"Ondrel.dll" : uniqueLibraryName(L"refused");
    const std::wstring path = folder.path() + L"\\" + name;
    if (c.kitName)
        folder.install(c.kitName, name);
    std::unique_ptr<LibraryTests::BlockList> blockList;
    if (c.blocked)
        blockList = std::make_unique<LibraryTests::BlockList>(name, std::vector<std::pair<std::wstring, std::wstring>>{
                                                                         {L"3.2.1.0", L"3.2.1.0"}});
    try {
        SharedLibrary library(LibraryDescriptor{name, {folder.path()}});
        FAIL() << "loaded";
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ(c.exception, error.what());
    }
    EXPECT_FALSE(mapped(path));
    for (const auto& line : c.lines)
        EXPECT_TRUE(log.contains(line.first, filled(line.second, name, path))) << TestSupport::narrow(line.second);
}

const std::wstring kLoadFailed = L"Failed to load library: %n. Throwing ModuleException.";

INSTANTIATE_TEST_SUITE_P(
    Cases, Refusal,
    ::testing::Values(
        RefusalCase{"InNoFolder", nullptr, true, false, "Failed to load library",
                    {{4, L"Failed to find valid path for library: %n."}, {4, kLoadFailed}}},
        RefusalCase{"Unsigned", L"bus-unsigned.dll", true, false, "Failed to load library",
                    {{4, L"LoadLibrary Failed. GLE: 5"},
                     {4, L"Failed to load library. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)."},
                     {4, L"Failed to load library: %n."},
                     {4, kLoadFailed}}},
        RefusalCase{"Tampered", L"bus-tampered.dll", true, false, "Failed to load library",
                    {{4, L"LoadLibrary Failed. GLE: 5"}, {4, L"Failed to load library: %n."}, {4, kLoadFailed}}},
        RefusalCase{"BlockedVersion", L"family-signed.dll", false, true, "Failed to load library",
                    {{3, L"Blocked library: %p."}, {4, kLoadFailed}}},
        RefusalCase{"WithoutGetVersionNum", L"family-incomplete-signed.dll", false, false,
                    "Failed to import functions from library",
                    {{4, L"Failed to load GetVersionNum function from library: %n."},
                     {4, L"Failed to import functions from library: %n. Throwing ModuleException."}}}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.label); });

// A library this process already holds under the same path gains a
// reference only when it is mapped from the trusted file now at that path:
// whatever loaded it earlier, and whatever its file has become since.
struct PreloadCase {
    const char* label;
    const wchar_t* preloaded;   // kit file loaded plainly before
    const wchar_t* replacement; // kit file put at its path afterwards; null: none
    bool taken;
};

class Preloaded : public ::testing::TestWithParam<PreloadCase> {};

TEST_P(Preloaded, TakenOnlyWhenItIsTheTrustedFile)
{
    const PreloadCase& c = GetParam();
    LibraryFolder folder;
    const std::wstring name = uniqueLibraryName(L"preloaded");
    const std::wstring path = folder.install(c.preloaded, name);
    HMODULE held = LoadLibraryExW(path.c_str(), nullptr, 0);
    ASSERT_NE(nullptr, held);
    if (c.replacement) {
        ASSERT_TRUE(MoveFileExW(path.c_str(), (folder.path() + L"\\moved-away.dll").c_str(), 0));
        folder.install(c.replacement, name);
    }
    bool taken = false;
    try {
        SharedLibrary library(LibraryDescriptor{name, {folder.path()}});
        taken = library.getFunctions()->getVersionNum != nullptr;
    } catch (const Ostrand::ModuleException&) {
    }
    EXPECT_EQ(c.taken, taken);
    EXPECT_TRUE(mapped(path)) << "the earlier reference was released";
    FreeLibrary(held);
    EXPECT_FALSE(mapped(path)) << "a reference was kept";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Preloaded,
    ::testing::Values(PreloadCase{"Trusted", L"bus-signed.dll", nullptr, true},
                      PreloadCase{"Unsigned", L"bus-unsigned.dll", nullptr, false},
                      PreloadCase{"UnsignedReplacedBySigned", L"bus-unsigned.dll", L"bus-signed.dll", false}),
    [](const ::testing::TestParamInfo<PreloadCase>& info) { return std::string(info.param.label); });

// A library name without a dot stands for the file the loader maps for it,
// the name with ".dll" added: a trusted file under the bare name beside an
// unsigned one under that name is no way in, and the unsigned one never runs.
TEST(SharedLibrary, ANameWithoutADotIsTheDllTheLoaderMaps)
{
    LoadMark::Watch mark(L"TrustMarkLoaded");
    ASSERT_TRUE(mark.ready());
    LibraryFolder folder;
    std::wstring name = uniqueLibraryName(L"nodot");
    name.resize(name.size() - 4);
    folder.install(L"bus-signed.dll", name);
    const std::wstring unsignedPath = folder.install(L"mark-unsigned.dll", name + L".dll");
    bool taken = false;
    try {
        SharedLibrary library(LibraryDescriptor{name, {folder.path()}});
        taken = library.getFunctions() != nullptr;
    } catch (const Ostrand::ModuleException&) {
    }
    EXPECT_FALSE(taken);
    EXPECT_FALSE(mark.seen()) << "the unsigned library's code ran";
    EXPECT_FALSE(mapped(unsignedPath));
}

// ---- collaborators that fail --------------------------------------------------

class RefusingPathHelpers : public Ostrand::PathHelpers {
public:
    bool expand(std::wstring& path) override
    {
        path += L"?";
        return false;
    }
};

TEST(SharedLibrary, AFolderThatCannotBeExpandedEndsTheSearch)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    EXPECT_THROW(SharedLibrary(LibraryDescriptor{L"lib.dll", {L"$(Some.Folder)", L"C:\\other"}}, nullptr,
                               std::make_shared<RefusingPathHelpers>()),
                 Ostrand::ModuleException);
    EXPECT_TRUE(log.contains(4, L"Failed to resolve file path, $(Some.Folder)?, for library: lib.dll."));
    EXPECT_FALSE(log.contains(4, L"Failed to find valid path"));
}

TEST(SharedLibrary, AFreeThatFailsIsLoggedAndDestructionGoesOn)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    TestSupport::ScratchFolder folder;
    folder.write(L"pretend.dll", "not a library");
    auto loader = std::make_shared<LibraryTests::PretendLoader>();
    loader->freeAnswer = false;
    { SharedLibrary library(LibraryDescriptor{L"pretend.dll", {folder.path()}}, loader); }
    ASSERT_EQ(1u, loader->freed.size());
    EXPECT_EQ(reinterpret_cast<HMODULE>(0x4000), loader->freed[0]);
    EXPECT_EQ(1u, log.find({4, L"SharedLibrary", L"Ostrand::SharedLibrary::unloadLibrary",
                            L"Failed to free library: pretend.dll."})
                      .size());
}

} // namespace

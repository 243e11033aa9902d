// The block list: an obfuscated value in the library's own machine key, named
// by the file's version text and holding that same text, refuses the file.
#include "LibraryFiles.h"

#include "LogFile.h"
#include "TestNames.h"

#include "dll/ModuleException.h"
#include "dll/SharedLibrary.h"

#include <gtest/gtest.h>

#include <cwctype>

namespace {

using LibraryTests::BlockList;
using LibraryTests::LibraryFolder;
using LibraryTests::uniqueLibraryName;
using Ostrand::LibraryDescriptor;
using Ostrand::SharedLibrary;
using Values = std::vector<std::pair<std::wstring, std::wstring>>;

// A version resource that holds the given FileVersion text (empty: none).
class VersionText : public Halvex::FileVersionInfo {
public:
    explicit VersionText(std::wstring text) : m_text(std::move(text)) {}
    bool Load(const std::wstring&) override { return true; }
    std::wstring GetString(const std::wstring& name) const override
    {
        return name == L"FileVersion" ? m_text : std::wstring();
    }

private:
    std::wstring m_text;
};

// Whether the library can be made; a refusal must be the loading one.
bool constructs(const LibraryDescriptor& descriptor, std::shared_ptr<Halvex::FileVersionInfo> version = {})
{
    try {
        SharedLibrary library(descriptor, nullptr, nullptr, nullptr, std::move(version));
        return true;
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ("Failed to load library", error.what());
        return false;
    }
}

struct BlockCase {
    const char* label;
    const wchar_t* kitName;
    const wchar_t* installAs; // null: a name of the test's own
    const wchar_t* versionText; // null: the file's own version resource
    bool listKey;               // the library's block-list key exists
    Values listed;
    bool blocked;
};

class BlockListCase : public ::testing::TestWithParam<BlockCase> {};

TEST_P(BlockListCase, LoadsUnlessTheListNamesThisVersion)
{
    const BlockCase& c = GetParam();
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    LibraryFolder folder;
    const std::wstring name = c.installAs ? c.installAs : uniqueLibraryName(L"listed");
    folder.install(c.kitName, name);
    std::unique_ptr<BlockList> list;
    if (c.listKey)
        list = std::make_unique<BlockList>(name, c.listed);
    std::shared_ptr<Halvex::FileVersionInfo> version;
    if (c.versionText)
        version = std::make_shared<VersionText>(c.versionText);

    EXPECT_EQ(!c.blocked, constructs(LibraryDescriptor{name, {folder.path()}}, version));
    EXPECT_EQ(c.blocked, log.contains(3, L"Blocked library: " + folder.path() + L"\\" + name + L"."));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockListCase,
    ::testing::Values(
        BlockCase{"ThisVersionListed", L"family-signed.dll", nullptr, nullptr, true, {{L"3.2.1.0", L"3.2.1.0"}}, true},
        BlockCase{"ListedWithOtherText", L"family-signed.dll", nullptr, nullptr, true, {{L"3.2.1.0", L"3.2.1.1"}},
                  false},
        BlockCase{"AnotherVersionListed", L"family-signed.dll", nullptr, nullptr, true, {{L"1.0.0.0", L"1.0.0.0"}},
                  false},
        BlockCase{"NoListKey", L"family-signed.dll", nullptr, nullptr, false, {}, false},
        // The file's own name in another case finds the same key.
        BlockCase{"NameInAnotherCase", L"family-signed.dll", L"Listed-Upper-Case-Family.DLL", nullptr, true,
                  {{L"3.2.1.0", L"3.2.1.0"}}, true},
        // The framework's libraries are never looked up, whatever the list says.
        BlockCase{"FrameworkName", L"family-signed.dll", L"oNdReL.dll", nullptr, true, {{L"3.2.1.0", L"3.2.1.0"}},
                  false},
        // No version resource: nothing to look up.
        BlockCase{"NoVersionResource", L"bus-signed.dll", nullptr, nullptr, true, {{L"", L""}}, false},
        // A resource without version text: the read finds no value, which is no match.
        BlockCase{"NoVersionTextAndNothingListedForIt", L"family-signed.dll", nullptr, L"", true,
                  {{L"1.0.0.0", L"1.0.0.0"}}, false}),
    [](const ::testing::TestParamInfo<BlockCase>& info) { return std::string(info.param.label); });

// A library is named by a plain file name: any other spelling could open the
// blocked file under a name the list does not know, or a file outside the
// search folder. `{n}` stands for a blocked library in the search folder
// (`{N}` for its name in capitals), `{o}` for a library one folder above it.
struct SpellingCase {
    const char* label;
    const wchar_t* spelling;
    bool loads;
    bool refusedAsName; // refused before any search, with its error line
};

std::wstring spelled(const std::wstring& pattern, const std::wstring& blocked, const std::wstring& outside)
{
    std::wstring text;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == L'{' && i + 2 < pattern.size() && pattern[i + 2] == L'}') {
            const wchar_t token = pattern[i + 1];
            std::wstring part = token == L'o' ? outside : blocked;
            if (token == L'N')
                for (wchar_t& ch : part)
                    ch = static_cast<wchar_t>(std::towupper(ch));
            text += part;
            i += 2;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

class NameSpelling : public ::testing::TestWithParam<SpellingCase> {};

TEST_P(NameSpelling, OnlyAPlainNameIsSearchedAndTheListKnowsItInAnyCase)
{
    const SpellingCase& c = GetParam();
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    LibraryFolder folder;
    const std::wstring search = folder.path() + L"\\search";
    ASSERT_TRUE(CreateDirectoryW(search.c_str(), nullptr));
    const std::wstring blocked = uniqueLibraryName(L"blockprobe");
    const std::wstring outside = uniqueLibraryName(L"outside");
    folder.install(L"family-signed.dll", L"search\\" + blocked);
    folder.install(L"family-signed.dll", L"search\\plain.dll");
    folder.install(L"family-signed.dll", outside);
    BlockList list(blocked, {{L"3.2.1.0", L"3.2.1.0"}});

    const std::wstring name = spelled(c.spelling, blocked, outside);
    EXPECT_EQ(c.loads, constructs(LibraryDescriptor{name, {search}})) << TestSupport::narrow(name);
    EXPECT_EQ(c.refusedAsName, log.contains(4, L"Refusing library name \"" + name + L"\": not a plain file name."));
    EXPECT_EQ(nullptr, GetModuleHandleW((folder.path() + L"\\" + outside).c_str())) << "a file outside was mapped";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NameSpelling,
    ::testing::Values(SpellingCase{"Plain", L"plain.dll", true, false},
                      SpellingCase{"Blocked", L"{n}", false, false},
                      SpellingCase{"BlockedInOtherCase", L"{N}", false, false},
                      SpellingCase{"DotFolder", L".\\{n}", false, true},
                      SpellingCase{"DotDotThroughAFolder", L"x\\..\\{n}", false, true},
                      SpellingCase{"TrailingDot", L"{n}.", false, true},
                      SpellingCase{"TrailingBlank", L"{n} ", false, true},
                      SpellingCase{"ForwardSlash", L"./{n}", false, true},
                      SpellingCase{"DataStream", L"{n}::$DATA", false, true},
                      SpellingCase{"DriveRelative", L"C:{n}", false, true},
                      SpellingCase{"Wildcard", L"*.dll", false, true},
                      SpellingCase{"DeviceName", L"NUL.dll", false, true},
                      SpellingCase{"OutsideTheSearchFolder", L"..\\{o}", false, true},
                      SpellingCase{"Empty", L"", false, true}),
    [](const ::testing::TestParamInfo<SpellingCase>& info) { return std::string(info.param.label); });

// A short (8.3) spelling of a listed library's name finds the key of the
// name the folder holds.
TEST(BlockList, AShortSpellingFindsTheKeyOfTheLongName)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    LibraryFolder folder;
    const std::wstring name = uniqueLibraryName(L"long-listed-library-name");
    const std::wstring path = folder.install(L"family-signed.dll", name);
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD n = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH) << GetLastError();
    const std::wstring spelled = std::wstring(shortPath, n).substr(std::wstring(shortPath, n).find_last_of(L'\\') + 1);
    ASSERT_NE(0, lstrcmpiW(name.c_str(), spelled.c_str())) << "no short name was made";
    BlockList list(name, {{L"3.2.1.0", L"3.2.1.0"}});

    EXPECT_FALSE(constructs(LibraryDescriptor{spelled, {folder.path()}})) << TestSupport::narrow(spelled);
    EXPECT_TRUE(log.contains(3, L"Blocked library: " + folder.path() + L"\\" + spelled + L"."));
}

// The version looked up is the version of the file loaded: a blocked copy
// put in the library's place right after its version was read is never the
// one loaded.
class SwappingVersionInfo : public Halvex::FileVersionInfo {
public:
    SwappingVersionInfo(std::wstring replacement, std::wstring target)
        : m_replacement(std::move(replacement)), m_target(std::move(target))
    {
    }
    bool Load(const std::wstring& path) override
    {
        const bool loaded = Halvex::FileVersionInfo::Load(path);
        swapped = MoveFileExW(m_replacement.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
        return loaded;
    }
    bool swapped = false;

private:
    std::wstring m_replacement, m_target;
};

TEST(BlockList, AFileSwappedAfterItsVersionWasReadIsNotTheOneLoaded)
{
    LibraryFolder folder;
    const std::wstring name = uniqueLibraryName(L"swapped");
    const std::wstring path = folder.install(L"bus-signed.dll", name); // no version resource
    const std::wstring blocked = folder.install(L"family-signed.dll", L"blocked-copy.dll");
    BlockList list(name, {{L"3.2.1.0", L"3.2.1.0"}});
    auto version = std::make_shared<SwappingVersionInfo>(blocked, path);

    std::unique_ptr<SharedLibrary> library;
    try {
        library = std::make_unique<SharedLibrary>(LibraryDescriptor{name, {folder.path()}}, nullptr, nullptr,
                                                  nullptr, version);
    } catch (const Ostrand::ModuleException&) {
    }
    if (library) {
        HMODULE module = GetModuleHandleW(path.c_str());
        ASSERT_NE(nullptr, module);
        EXPECT_EQ(nullptr, FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)))
            << "the blocked version was loaded (swapped: " << version->swapped << ")";
    }
}

} // namespace

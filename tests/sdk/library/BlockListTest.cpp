// The block list: an obfuscated value in the library's own machine key, named
// by the file's version text and holding that same text, refuses the file.
#include "LibraryFiles.h"

#include "LogFile.h"

#include "dll/ModuleException.h"
#include "dll/SharedLibrary.h"

#include <gtest/gtest.h>

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

    bool loaded = false;
    try {
        SharedLibrary library(LibraryDescriptor{name, {folder.path()}}, nullptr, nullptr, nullptr, version);
        loaded = true;
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ("Failed to load library", error.what());
    }
    EXPECT_EQ(!c.blocked, loaded);
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

} // namespace

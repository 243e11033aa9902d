#include "GlobalListScope.h"
#include "TrustKit.h"

#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include "trust/TrustSignedFile.h"
#include "trust/TrustValidator.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

using namespace TrustTests;

namespace {

using JournalFn = void (*)(DWORD*, DWORD*, wchar_t*, char*);

struct Journal {
    DWORD calls = 0;
    DWORD flags = 0;
    wchar_t path[MAX_PATH] = {};
    char interfaceName[64] = {};
};

// The validation double as the validator loaded it.
Journal readJournal()
{
    Journal j;
    HMODULE module = GetModuleHandleW(kitFile(L"Drellin.dll").c_str());
    auto fn = module ? reinterpret_cast<JournalFn>(reinterpret_cast<void*>(GetProcAddress(module, "DrellinDoubleJournal")))
                     : nullptr;
    if (fn)
        fn(&j.calls, &j.flags, j.path, j.interfaceName);
    return j;
}

// A service key of the test's own, naming the kit folder as install folder.
class ServiceKey {
public:
    explicit ServiceKey(const wchar_t* version)
    {
        std::wstring dir = kitDir();
        m_key.setRaw(L"szInstallDir64", REG_SZ, dir.c_str(), static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
        if (version)
            m_key.setRaw(L"tolgar_version", REG_SZ, version, static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    }
    TrustValidator::Settings settings() const
    {
        TrustValidator::Settings s;
        s.key.root = m_key.root();
        s.key.path = m_key.path();
        return s;
    }

private:
    TestSupport::ScratchRegistryKey m_key;
};

struct ServiceCase {
    const char* label;
    const wchar_t* version; // null: no value
    DWORD serviceVersion;
    DWORD flags;
    const wchar_t* verdict; // what the double writes: "<byte0>,<word4>"
    DWORD answer;
};

class ServicePath : public ::testing::TestWithParam<ServiceCase> {};

TEST_P(ServicePath, VersionGivesFlagsAndBitsDecide)
{
    const ServiceCase& c = GetParam();
    ServiceKey key(c.version);
    TrustValidator validator(key.settings());
    EXPECT_EQ(c.serviceVersion, validator.serviceVersion());
    ASSERT_NE(nullptr, validator.control());
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_VERDICT", c.verdict);
    const std::wstring file = kitFile(L"sample-unsigned.dll");
    EXPECT_EQ(c.answer, TrustValidatorCheckService(&validator, file.c_str()));
    // Whatever the service says, the answer of the whole check can only add trust.
    EXPECT_EQ(c.answer, TrustValidatorIsTrusted(&validator, file.c_str()));
    Journal j = readJournal();
    EXPECT_EQ(c.flags, j.flags);
    EXPECT_EQ(file, j.path);
    EXPECT_STREQ("KytValidationControl2", j.interfaceName);
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_VERDICT", nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, ServicePath,
    ::testing::Values(ServiceCase{"V153Vouches", L"15.3", 1504, 4, L"2,1", 0},
                      ServiceCase{"V153NeedsBit1", L"15.3", 1504, 4, L"2,8", 5},
                      ServiceCase{"NoVersionValue", nullptr, 1504, 4, L"2,1", 0},
                      ServiceCase{"Unparsable", L"fifteen", 1504, 4, L"2,1", 0},
                      ServiceCase{"V154", L"15.4.7 beta", 1504, 4, L"3,1", 0},
                      ServiceCase{"V155Vouches", L"15.5", 1505, 0x200, L"2,8", 0},
                      ServiceCase{"V155NeedsBit8", L"15.5", 1505, 0x200, L"2,1", 5},
                      ServiceCase{"V160Vouches", L"16.0", 1600, 0x200, L"2,8", 0},
                      ServiceCase{"V160NeedsByteBit2", L"16.0", 1600, 0x200, L"1,8", 5},
                      ServiceCase{"NothingWritten", L"16.0", 1600, 0x200, nullptr, 5}),
    [](const ::testing::TestParamInfo<ServiceCase>& info) { return std::string(info.param.label); });

TEST(ServiceMissing, NoKeyMeansOwnCheckOnly)
{
    TrustValidator::Settings settings;
    settings.key.root = HKEY_CURRENT_USER;
    settings.key.path = L"Software\\SentrelTests\\" + TestSupport::uniqueName(L"absent");
    TrustValidator validator(settings);
    EXPECT_EQ(0u, validator.serviceVersion());
    EXPECT_EQ(nullptr, validator.control());
    EXPECT_EQ(5u, TrustValidatorCheckService(&validator, kitFile(L"sample-signed.dll").c_str()));
    EXPECT_EQ(87u, TrustValidatorIsTrusted(&validator, L""));
}

TEST(ServiceInterface, OlderInterfaceNameIsAskedNext)
{
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_INTERFACES", L"KytValidationControl");
    ServiceKey key(L"16.0");
    TrustValidator validator(key.settings());
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_INTERFACES", nullptr);
    EXPECT_NE(nullptr, validator.control());
    EXPECT_STREQ("KytValidationControl", readJournal().interfaceName);
}

// The interface's code lives in the library: the library stays mapped while
// the interface is held, even when it does not keep itself loaded.
TEST(ServiceInterface, LibraryStaysLoadedWithItsInterface)
{
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_NO_PIN", L"1");
    ServiceKey key(L"16.0");
    TrustValidator validator(key.settings());
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_NO_PIN", nullptr);
    ASSERT_NE(nullptr, validator.control());
    EXPECT_NE(nullptr, GetModuleHandleW(kitFile(L"Drellin.dll").c_str()));
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_VERDICT", L"2,8");
    EXPECT_EQ(0u, TrustValidatorCheckService(&validator, L"x.dll"));
    SetEnvironmentVariableW(L"DRELLIN_DOUBLE_VERDICT", nullptr);
}

TEST(ProcessValidator, EmptyPathDoesNotMakeIt)
{
    EXPECT_EQ(87u, TrustVerifyFile(nullptr));
    EXPECT_EQ(87u, TrustVerifyFile(L""));
    bool created = false;
    TrustValidator* first = TrustGetValidator(&created);
    EXPECT_TRUE(created);
    EXPECT_EQ(first, TrustGetValidator(&created));
    EXPECT_FALSE(created);
}

// The process's validator over the process-wide list: the built-in policy
// does not know the kit's roots, a newer list file does.
TEST(ProcessValidator, NewerListTakesOverFromBuiltIn)
{
    GlobalListScope scope;
    const std::wstring signedFile = kitFile(L"sample-signed.dll");
    EXPECT_EQ(5u, TrustVerifyFile(signedFile.c_str()));
    scope.writeList(listText("8", {kitThumbprintText("root")}));
    EXPECT_EQ(0u, TrustVerifyFile(signedFile.c_str()));
    EXPECT_EQ(8u, TrustGlobalList().Version());
    EXPECT_EQ(5u, TrustVerifyFile(kitFile(L"sample-stranger.dll").c_str()));
    EXPECT_EQ(5u, TrustVerifyFile(kitFile(L"sample-other-root.dll").c_str()));
}

TEST(ProcessValidator, ListNotNewerThanBuiltInNeverTakesOver)
{
    GlobalListScope scope;
    scope.writeList(listText("7", {kitThumbprintText("root")}));
    EXPECT_EQ(5u, TrustVerifyFile(kitFile(L"sample-signed.dll").c_str()));
    // Loaded all the same: a later check does not read it again, nor trust by it.
    ASSERT_TRUE(TrustGlobalList().LoadLocked());
    EXPECT_EQ(5u, TrustVerifyFile(kitFile(L"sample-signed.dll").c_str()));
}

// Another process installs a list that lists the other root; this process
// reads it again only when the atom says so.
TEST(ProcessValidator, ReloadWhenTheAtomExists)
{
    GlobalListScope scope;
    scope.writeList(listText("8", {kitThumbprintText("root")}));
    ASSERT_EQ(0u, TrustVerifyFile(kitFile(L"sample-signed.dll").c_str()));
    scope.writeList(listText("9", {kitThumbprintText("root"), kitThumbprintText("otherroot")}));
    const std::wstring other = kitFile(L"sample-other-root.dll");
    EXPECT_EQ(5u, TrustVerifyFile(other.c_str()));
    EXPECT_EQ(8u, TrustGlobalList().Version());
    ASSERT_NE(0, GlobalAddAtomW(scope.atom().c_str()));
    EXPECT_EQ(0u, TrustVerifyFile(other.c_str()));
    EXPECT_EQ(9u, TrustGlobalList().Version());
}

TEST(ProcessValidator, CabinetCarriesTheListThatTrustsIt)
{
    GlobalListScope scope;
    scope.writeList(listText("8", {kitThumbprintText("root")}));
    EXPECT_EQ(0u, TrustVerifyFile(kitFile(L"cabinet-signed-with-list.cab").c_str()));
    EXPECT_EQ(8u, TrustGlobalList().Version()); // trusted at once: nothing extracted
    EXPECT_EQ(0u, TrustVerifyFile(kitFile(L"cabinet-other-root-with-list.cab").c_str()));
    EXPECT_EQ(9u, TrustGlobalList().Version());
    EXPECT_TRUE(scope.atomExists());
}

TEST(ProcessValidator, UnsignedCabinetWithoutListIsNotTrusted)
{
    GlobalListScope scope;
    EXPECT_EQ(5u, TrustVerifyFile(kitFile(L"cabinet-unsigned-without-list.cab").c_str()));
    EXPECT_FALSE(PathFileExistsW(scope.listPath().c_str()));
    EXPECT_FALSE(scope.atomExists());
    // A newer list inside is installed, but the cabinet itself stays unsigned.
    EXPECT_EQ(5u, TrustVerifyFile(kitFile(L"cabinet-unsigned-with-list.cab").c_str()));
    EXPECT_EQ(9u, TrustGlobalList().Version());
}

} // namespace

namespace {

// What a check costs: the file hash, the one test that reads the whole file,
// is made only for a signer that passed everything else, and once for every
// policy one check tries (here the kit's policy, standing in for the built-in
// one, and a newer list that lists the same signer and root).
struct HashCase {
    const char* label;
    const wchar_t* file;
    unsigned long hashes;
    bool trusted;
};

class CheckCost : public ::testing::TestWithParam<HashCase> {};

TEST_P(CheckCost, TheFileIsHashedOnlyForASignerThatFitsAndOncePerCheck)
{
    const HashCase& c = GetParam();
    GlobalListScope scope;
    scope.writeList(listText("8", {kitThumbprintText("root")}));
    OwnedPolicy owned({kSignerName}, {kitThumbprint("root")}, {});
    const TrustPolicy policy{7, owned.names(), owned.roots(), owned.rootCount(), owned.serials()};
    const unsigned long before = Halvex::trust::TrustSignedFile::verificationsMade();
    EXPECT_EQ(c.trusted, TrustCheckFileOrCabinet(kitFile(c.file).c_str(), policy));
    EXPECT_EQ(c.hashes, Halvex::trust::TrustSignedFile::verificationsMade() - before);
}

INSTANTIATE_TEST_SUITE_P(
    Kit, CheckCost,
    ::testing::Values(HashCase{"StrangerSignedIsRefusedUnhashed", L"sample-stranger.dll", 0, false},
                      HashCase{"UnsignedIsRefusedUnhashed", L"sample-unsigned.dll", 0, false},
                      HashCase{"UnlistedRootIsRefusedUnhashed", L"sample-other-root.dll", 0, false},
                      // Both policies get as far as the hash: it is made once.
                      HashCase{"TamperedIsHashedOnceForBothPolicies", L"sample-tampered.dll", 1, false},
                      HashCase{"SignedIsHashedOnce", L"sample-signed.dll", 1, true}),
    [](const ::testing::TestParamInfo<HashCase>& info) { return std::string(info.param.label); });

} // namespace

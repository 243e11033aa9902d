#include "GlobalListScope.h"
#include "TrustKit.h"

#include "ScratchFolder.h"
#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include "trust/NotComDll.h"
#include "trust/TrustLoad.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <algorithm>

using namespace TrustTests;

namespace {

// The process-wide list trusts the kit's root and signer.
class TrustedKit : public ::testing::Test {
protected:
    void SetUp() override { scope.writeList(listText("8", {kitThumbprintText("root")})); }
    GlobalListScope scope;
};

TEST_F(TrustedKit, LoadsOnlyTrustedLibraries)
{
    const std::wstring trusted = kitFile(L"sample-signed.dll");
    HMODULE module = TrustLoadLibraryExW(trusted.c_str(), 0);
    ASSERT_NE(nullptr, module);
    EXPECT_NE(nullptr, GetProcAddress(module, "TrustSampleAnswer"));
    FreeLibrary(module);

    for (const wchar_t* name : {L"sample-unsigned.dll", L"sample-tampered.dll", L"sample-stranger.dll"}) {
        const std::wstring path = kitFile(name);
        SetLastError(0);
        EXPECT_EQ(nullptr, TrustLoadLibraryExW(path.c_str(), 0)) << TestSupport::narrow(name);
        EXPECT_EQ(5u, GetLastError());
        EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str())) << "mapped all the same";
    }
    SetLastError(0);
    EXPECT_EQ(nullptr, TrustLoadLibraryExW(nullptr, 0));
    EXPECT_EQ(87u, GetLastError());
}

TEST_F(TrustedKit, ModuleOfAddress)
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(87u, TrustGetModulePathOfAddress(nullptr, path));
    EXPECT_EQ(87u, TrustGetModulePathOfAddress(reinterpret_cast<const void*>(&TrustGetModulePathOfAddress), nullptr));
    EXPECT_EQ(5u, TrustGetModulePathOfAddress(reinterpret_cast<const void*>(0x10), path));

    HMODULE module = LoadLibraryW(kitFile(L"sample-signed.dll").c_str());
    ASSERT_NE(nullptr, module);
    const void* code = reinterpret_cast<const void*>(GetProcAddress(module, "TrustSampleAnswer"));
    ASSERT_EQ(0u, TrustGetModulePathOfAddress(code, path));
    EXPECT_EQ(0, lstrcmpiW(kitFile(L"sample-signed.dll").c_str(), path));
    EXPECT_EQ(0u, TrustVerifyModuleOfAddress(code));
    EXPECT_EQ(87u, TrustVerifyModuleOfAddress(reinterpret_cast<const void*>(0x10)));
    FreeLibrary(module);
}

// Finding the validation library: install folder first, then the current
// folder, then beside the base module.
class ValidationLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        key.path = m_registry.path();
        key.root = m_registry.root();
    }
    void TearDown() override { SetCurrentDirectoryW(m_previous); }
    void installIn(const std::wstring& dir)
    {
        m_registry.setRaw(L"szInstallDir64", REG_SZ, dir.c_str(), static_cast<DWORD>((dir.size() + 1) * sizeof(wchar_t)));
    }
    std::wstring copyToScratch(const wchar_t* kitName, const wchar_t* as)
    {
        std::wstring to = folder.file(as);
        CopyFileW(kitFile(kitName).c_str(), to.c_str(), FALSE);
        return to;
    }

    TestSupport::ScratchFolder folder;
    TestSupport::ScratchRegistryKey m_registry;
    TrustServiceKey key;
    wchar_t m_previous[MAX_PATH] = {};
};

TEST_F(ValidationLibrary, FromTheInstallFolder)
{
    installIn(kitDir());
    void* control = nullptr;
    EXPECT_EQ(0u, NotComDllGetInterface(key, L"Drellin.dll", "KytValidationControl2", &control, nullptr));
    EXPECT_NE(nullptr, control);
    EXPECT_NE(nullptr, GetModuleHandleW(kitFile(L"Drellin.dll").c_str()));
}

TEST_F(ValidationLibrary, FromTheCurrentFolderWithoutInstallFolder)
{
    std::wstring copy = copyToScratch(L"Drellin.dll", L"Drellin.dll");
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    void* control = nullptr;
    EXPECT_EQ(0u, NotComDllGetInterface(key, L"Drellin.dll", "KytValidationControl", &control, nullptr));
    EXPECT_NE(nullptr, control);
    EXPECT_NE(nullptr, GetModuleHandleW(copy.c_str()));
}

TEST_F(ValidationLibrary, BesideTheBaseModuleWhenNowhereElse)
{
    installIn(folder.path()); // holds no such library
    HMODULE base = LoadLibraryW(kitFile(L"sample-signed.dll").c_str());
    ASSERT_NE(nullptr, base);
    void* control = nullptr;
    EXPECT_EQ(0u, NotComDllGetInterface(key, L"Drellin.dll", "KytValidationControl2", &control, base));
    EXPECT_NE(nullptr, control);
    EXPECT_NE(nullptr, GetModuleHandleW(kitFile(L"Drellin.dll").c_str()));
}

// An install folder so long that only a cut name would fit behind it: the
// file under that cut name is never taken for the library, which is found
// in the current folder instead.
TEST_F(ValidationLibrary, NeverUnderACutName)
{
    const std::wstring name = L"Drellin.dll";
    const size_t folderLength = MAX_PATH - 12; // the longest folder that can be made
    std::wstring dir = folder.path();
    while (dir.size() < folderLength) {
        dir += L"\\" + std::wstring(std::min<size_t>(40, folderLength - dir.size() - 1), L'd');
        ASSERT_TRUE(CreateDirectoryW(dir.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    }
    ASSERT_EQ(folderLength, dir.size());
    installIn(dir);
    const std::wstring cut = dir + L"\\" + name.substr(0, MAX_PATH - 1 - dir.size() - 1);
    ASSERT_EQ(L"Drellin.dl", cut.substr(dir.size() + 1));
    ASSERT_TRUE(CopyFileW(kitFile(L"Drellin.dll").c_str(), cut.c_str(), FALSE));
    const std::wstring current = copyToScratch(L"Drellin.dll", L"Drellin.dll");
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));

    void* control = nullptr;
    EXPECT_EQ(0u, NotComDllGetInterface(key, name.c_str(), "KytValidationControl2", &control, nullptr));
    EXPECT_NE(nullptr, control);
    EXPECT_NE(nullptr, GetModuleHandleW(current.c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleW(cut.c_str())) << "loaded under the cut name";
}

struct LibraryCase {
    const char* label;
    const wchar_t* kitName; // copied into the install folder as Drellin.dll; null: nothing there
    DWORD answer;
    bool handedOut;
};

class ValidationLibraryFile : public ValidationLibrary, public ::testing::WithParamInterface<LibraryCase> {};

TEST_P(ValidationLibraryFile, SignatureDecides)
{
    const LibraryCase& c = GetParam();
    installIn(folder.path());
    if (c.kitName)
        copyToScratch(c.kitName, L"Drellin.dll");
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    HMODULE base = GetModuleHandleW(nullptr); // the test program's folder holds no such library
    void* control = reinterpret_cast<void*>(1);
    EXPECT_EQ(c.answer, NotComDllGetInterface(key, L"Drellin.dll", "KytValidationControl2", &control, base));
    EXPECT_EQ(c.handedOut, control != nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ValidationLibraryFile,
    ::testing::Values(LibraryCase{"Signed", L"Drellin.dll", 0, true},
                      LibraryCase{"ExpiredCertificateAccepted", L"Drellin-expired.dll", 0, true},
                      LibraryCase{"Unsigned", L"Drellin-unsigned.dll", static_cast<DWORD>(TRUST_E_NOSIGNATURE), false},
                      LibraryCase{"WithoutTheExport", L"sample-signed.dll", ERROR_PROC_NOT_FOUND, false},
                      LibraryCase{"Missing", nullptr, ERROR_FILE_NOT_FOUND, false}),
    [](const ::testing::TestParamInfo<LibraryCase>& info) { return std::string(info.param.label); });

TEST(ValidationLibraryName, TooLongOrNullArguments)
{
    std::wstring longName(MAX_PATH, L'a');
    void* control = nullptr;
    EXPECT_EQ(87u, NotComDllGetInterface(longName.c_str(), "KytValidationControl2", &control, nullptr));
    EXPECT_EQ(87u, NotComDllGetInterface(nullptr, "KytValidationControl2", &control, nullptr));
    EXPECT_EQ(87u, NotComDllGetInterface(L"Drellin.dll", "KytValidationControl2", nullptr, nullptr));
}

// Folder, separator and name fit whole, or there is no install path: a path
// cut short would name another file.
TEST(ValidationInstallPath, WholeOrNothing)
{
    TestSupport::ScratchRegistryKey registry;
    TrustServiceKey key{registry.root(), registry.path()};
    wchar_t buffer[65];
    EXPECT_FALSE(NotComDllGetInstallPath(key, false, L"Drellin.dll", buffer, 64)) << "no value";
    const wchar_t dir[] = L"C:\\Tolgar";
    registry.setRaw(L"szInstallDir64", REG_SZ, dir, sizeof(dir));
    // Stored without its terminator: read as far as the data goes.
    registry.setRaw(L"szInstallDir32", REG_SZ, L"D:\\x", 4 * sizeof(wchar_t));

    struct Case {
        bool use32;
        DWORD capacity;
        const wchar_t* expected; // null: false
    };
    const Case cases[] = {
        {false, 16, nullptr},  // the folder fits, the name does not
        {false, 10, nullptr},  // only the folder fits, the separator does not
        {false, 9, nullptr},   // not even the folder
        {false, 21, nullptr},  // all but the terminator
        {false, 22, L"C:\\Tolgar\\Drellin.dll"},
        {true, 16, nullptr},
        {true, 17, L"D:\\x\\Drellin.dll"},
        {true, 64, L"D:\\x\\Drellin.dll"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.use32 ? "32" : "64") << "-bit value, capacity " << c.capacity);
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        const bool found = NotComDllGetInstallPath(key, c.use32, L"Drellin.dll", buffer, c.capacity);
        EXPECT_EQ(c.expected != nullptr, found);
        if (c.expected)
            EXPECT_STREQ(c.expected, buffer);
        else
            EXPECT_EQ(L'\0', buffer[0]) << "a cut path is left in the buffer";
        EXPECT_EQ(L'#', buffer[c.capacity]) << "written past the capacity";
    }
}

// COM creation through a class registered for this test only.
class TrustedCom : public TrustedKit {
protected:
    void SetUp() override
    {
        TrustedKit::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        CoCreateGuid(&clsid);
        wchar_t text[64] = {};
        StringFromGUID2(clsid, text, 64);
        m_key = std::wstring(L"Software\\Classes\\CLSID\\") + text;
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_key.c_str());
        CoUninitialize();
        SetEnvironmentVariableW(L"TRUST_COM_DOUBLE_PRIVATE", nullptr);
    }
    void registerServer(const wchar_t* kitName)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, (m_key + L"\\InprocServer32").c_str(), 0, nullptr,
                                                 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        std::wstring path = kitFile(kitName);
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Both"), sizeof(L"Both"));
        RegCloseKey(key);
        m_server = path;
    }
    LONG created() const
    {
        HMODULE module = GetModuleHandleW(m_server.c_str());
        auto fn = module ? reinterpret_cast<LONG (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "TrustComDoubleCreated")))
                         : nullptr;
        return fn ? fn() : 0;
    }

    CLSID clsid{};
    std::wstring m_key;
    std::wstring m_server;
};

TEST_F(TrustedCom, TrustedServerCreatesThroughEitherPrivateFactory)
{
    registerServer(L"comserver-signed.dll");
    for (const wchar_t* which : {L"first", L"second"}) {
        SetEnvironmentVariableW(L"TRUST_COM_DOUBLE_PRIVATE", which);
        IUnknown* object = nullptr;
        EXPECT_EQ(S_OK, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                              reinterpret_cast<void**>(&object), TRUE));
        ASSERT_NE(nullptr, object);
        object->Release();
    }
    EXPECT_EQ(2, created());
}

TEST_F(TrustedCom, UntrustedServerCreatesNothing)
{
    registerServer(L"comserver-unsigned.dll");
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_ACCESSDENIED, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void**>(&object), TRUE));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, created());
}

TEST_F(TrustedCom, WithoutVerifyItIsPlainCreation)
{
    registerServer(L"comserver-unsigned.dll");
    IUnknown* object = nullptr;
    EXPECT_EQ(S_OK, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                          reinterpret_cast<void**>(&object), FALSE));
    ASSERT_NE(nullptr, object);
    object->Release();
    EXPECT_EQ(1, created());
}

TEST_F(TrustedCom, ServerWithoutPrivateFactoryGivesItsAnswer)
{
    registerServer(L"comserver-signed.dll");
    SetEnvironmentVariableW(L"TRUST_COM_DOUBLE_PRIVATE", L"none");
    IUnknown* object = nullptr;
    EXPECT_EQ(E_NOINTERFACE, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                   reinterpret_cast<void**>(&object), TRUE));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr, TRUE));
    CLSID unknown{};
    CoCreateGuid(&unknown);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, TrustCoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                         reinterpret_cast<void**>(&object), TRUE));
}

} // namespace

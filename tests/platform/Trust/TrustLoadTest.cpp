#include "GlobalListScope.h"
#include "LoadMark.h"
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

std::wstring guidText(const GUID& id)
{
    wchar_t text[64] = {};
    StringFromGUID2(id, text, 64);
    return text;
}

std::wstring classKey(const CLSID& id)
{
    return L"Software\\Classes\\CLSID\\" + guidText(id);
}

// A value of a machine-wide class's key as COM reads it, with the threading
// model an in-process server needs.
void setClassValue(const std::wstring& key, DWORD type, const std::wstring& value)
{
    HKEY h = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr));
    RegSetValueExW(h, nullptr, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegSetValueExW(h, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Both"), sizeof(L"Both"));
    RegCloseKey(h);
}

// COM creation through a class registered for this test only.
class TrustedCom : public TrustedKit {
protected:
    void SetUp() override
    {
        TrustedKit::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        CoCreateGuid(&clsid);
        m_key = classKey(clsid);
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_key.c_str());
        CoUninitialize();
        SetEnvironmentVariableW(L"TRUST_COM_DOUBLE_PRIVATE", nullptr);
    }
    void registerServer(const wchar_t* kitName)
    {
        m_server = kitFile(kitName);
        registerValue(REG_SZ, m_server);
    }
    // The class's InprocServer32 value, as COM reads it.
    void registerValue(DWORD type, const std::wstring& value)
    {
        setClassValue(m_key + L"\\InprocServer32", type, value);
    }
    LONG created() const { return createdBy(m_server); }
    // The objects made by the copy of the server double mapped from `server`.
    static LONG createdBy(const std::wstring& server)
    {
        HMODULE module = GetModuleHandleW(server.c_str());
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

// The server file is judged before COM maps it: the double's DllMain sets a
// per-process event whenever one of its copies is mapped. Each case registers
// a fresh copy, so that a mapping cannot hide behind an earlier one.
enum class Spelling { Full, Expanded, Relative, Quoted };

struct ServerCase {
    const char* label;
    const wchar_t* kitName;
    Spelling spelling;
    bool trusted;
};

class MarkingServer : public TrustedCom, public ::testing::WithParamInterface<ServerCase> {
protected:
    void SetUp() override
    {
        TrustedCom::SetUp();
        GetCurrentDirectoryW(MAX_PATH, m_previous);
        ASSERT_TRUE(mark.ready());
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_previous);
        SetEnvironmentVariableW(L"TRUST_COM_TEST_DIR", nullptr);
        TrustedCom::TearDown();
    }
    // Copies the kit's server into the scratch folder and registers it as
    // COM would find it under the given spelling.
    void registerCopy(const ServerCase& c)
    {
        const std::wstring file = std::wstring(L"marking-") + TestSupport::widen(c.label) + L".dll";
        m_server = folder.file(file);
        ASSERT_TRUE(CopyFileW(kitFile(c.kitName).c_str(), m_server.c_str(), FALSE));
        std::wstring value = m_server;
        DWORD type = REG_SZ;
        if (c.spelling == Spelling::Expanded) {
            SetEnvironmentVariableW(L"TRUST_COM_TEST_DIR", folder.path().c_str());
            value = L"%TRUST_COM_TEST_DIR%\\" + file;
            type = REG_EXPAND_SZ;
        } else if (c.spelling == Spelling::Relative) {
            ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
            value = file;
        } else if (c.spelling == Spelling::Quoted) {
            value = L"\"" + m_server + L"\"";
        }
        registerValue(type, value);
    }
    bool marked() const { return mark.seen(); }

    TestSupport::ScratchFolder folder{L"servers"};
    LoadMark::Watch mark{L"TrustComDoubleLoaded"};
    wchar_t m_previous[MAX_PATH] = {};
};

TEST_P(MarkingServer, OnlyATrustedServerIsEverMapped)
{
    const ServerCase& c = GetParam();
    registerCopy(c);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    HRESULT hr = TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                       reinterpret_cast<void**>(&object), TRUE);
    if (c.trusted) {
        EXPECT_EQ(S_OK, hr);
        EXPECT_NE(nullptr, object);
        EXPECT_TRUE(marked());
        EXPECT_EQ(1, created());
    } else {
        EXPECT_EQ(E_ACCESSDENIED, hr);
        EXPECT_EQ(nullptr, object);
        EXPECT_FALSE(marked()) << "the server's code ran";
        EXPECT_EQ(nullptr, GetModuleHandleW(m_server.c_str())) << "the server stayed mapped";
    }
    if (SUCCEEDED(hr) && object)
        object->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Servers, MarkingServer,
    ::testing::Values(ServerCase{"Unsigned", L"comserver-unsigned.dll", Spelling::Full, false},
                      ServerCase{"Tampered", L"comserver-tampered.dll", Spelling::Full, false},
                      ServerCase{"WronglySigned", L"comserver-stranger.dll", Spelling::Full, false},
                      ServerCase{"UnsignedExpanded", L"comserver-unsigned.dll", Spelling::Expanded, false},
                      ServerCase{"UnsignedRelative", L"comserver-unsigned.dll", Spelling::Relative, false},
                      ServerCase{"UnsignedQuoted", L"comserver-unsigned.dll", Spelling::Quoted, false},
                      ServerCase{"Trusted", L"comserver-signed.dll", Spelling::Full, true},
                      ServerCase{"TrustedExpanded", L"comserver-signed.dll", Spelling::Expanded, true},
                      ServerCase{"TrustedRelative", L"comserver-signed.dll", Spelling::Relative, true},
                      ServerCase{"TrustedQuoted", L"comserver-signed.dll", Spelling::Quoted, true}),
    [](const ::testing::TestParamInfo<ServerCase>& info) { return std::string(info.param.label); });

// The class object must come from the server file that was checked, even
// when the module it does come from is itself trusted.
TEST_F(TrustedCom, AClassObjectFromAnotherModuleCreatesNothing)
{
    TestSupport::ScratchFolder folder(L"foreign");
    const std::wstring foreign = folder.file(L"foreign-server.dll");
    ASSERT_TRUE(CopyFileW(kitFile(L"comserver-signed.dll").c_str(), foreign.c_str(), FALSE));
    registerServer(L"comserver-signed.dll");
    SetEnvironmentVariableW(L"TRUST_COM_DOUBLE_PRIVATE", L"foreign");
    SetEnvironmentVariableW(L"TRUST_COM_DOUBLE_FOREIGN", foreign.c_str());
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_ACCESSDENIED, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void**>(&object), TRUE));
    SetEnvironmentVariableW(L"TRUST_COM_DOUBLE_FOREIGN", nullptr);
    EXPECT_EQ(nullptr, object);
    EXPECT_NE(nullptr, GetModuleHandleW(foreign.c_str())) << "the class object was never taken from elsewhere";
    m_server = foreign;
    EXPECT_EQ(0, created());
}

// A server mapped before by a plain load, whose file was then moved away and
// replaced by a trusted copy: the name vouches for a file the module is not.
TEST_F(TrustedCom, APreloadedServerOfAnotherFileCreatesNothing)
{
    TestSupport::ScratchFolder folder(L"preloaded-server");
    m_server = folder.file(L"server.dll");
    ASSERT_TRUE(CopyFileW(kitFile(L"comserver-unsigned.dll").c_str(), m_server.c_str(), FALSE));
    HMODULE plain = LoadLibraryW(m_server.c_str());
    ASSERT_NE(nullptr, plain);
    ASSERT_TRUE(MoveFileExW(m_server.c_str(), folder.file(L"moved-away.dll").c_str(), 0));
    ASSERT_TRUE(CopyFileW(kitFile(L"comserver-signed.dll").c_str(), m_server.c_str(), FALSE));
    registerValue(REG_SZ, m_server);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_ACCESSDENIED, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void**>(&object), TRUE));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, created()) << "the preloaded server made an object";
    FreeLibrary(plain);
}

// COM creates the class a TreatAs entry names, and may map an in-process
// handler: the file checked must be the one that class's server is, and no
// handler is ever mapped unchecked.
class EmulatedCom : public MarkingServer {
protected:
    void SetUp() override
    {
        MarkingServer::SetUp();
        CoCreateGuid(&emulating);
        m_emulatingKey = classKey(emulating);
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_emulatingKey.c_str());
        MarkingServer::TearDown();
    }
    // A fresh copy of a kit server in the scratch folder.
    std::wstring copyOf(const wchar_t* kitName, const wchar_t* as)
    {
        std::wstring to = folder.file(as);
        EXPECT_TRUE(CopyFileW(kitFile(kitName).c_str(), to.c_str(), FALSE));
        return to;
    }
    // The class's own server, the emulating class's, and the TreatAs entry
    // that sends the one class to the other.
    void emulate(const std::wstring& own, const std::wstring& emulator)
    {
        setClassValue(m_key + L"\\InprocServer32", REG_SZ, own);
        setClassValue(m_emulatingKey + L"\\InprocServer32", REG_SZ, emulator);
        setClassValue(m_key + L"\\TreatAs", REG_SZ, guidText(emulating));
    }

    CLSID emulating{};
    std::wstring m_emulatingKey;
};

TEST_F(EmulatedCom, TheEmulatingClassServerIsTheOneChecked)
{
    const std::wstring own = copyOf(L"comserver-unsigned.dll", L"own-unsigned.dll");
    const std::wstring emulator = copyOf(L"comserver-signed.dll", L"emulator-signed.dll");
    emulate(own, emulator);
    IUnknown* object = nullptr;
    EXPECT_EQ(S_OK, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                          reinterpret_cast<void**>(&object), TRUE));
    EXPECT_EQ(1, createdBy(emulator));
    EXPECT_EQ(nullptr, GetModuleHandleW(own.c_str())) << "the emulated class's own server was mapped";
    if (object)
        object->Release();
}

// Where COM follows TreatAs (Windows does, Wine does not), the emulating
// class's server is what COM would map: an unsigned one is never run.
TEST_F(EmulatedCom, AnUntrustedEmulatingServerIsNeverRun)
{
    const std::wstring own = copyOf(L"comserver-signed.dll", L"own-signed.dll");
    const std::wstring emulator = copyOf(L"comserver-unsigned.dll", L"emulator-unsigned.dll");
    emulate(own, emulator);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_ACCESSDENIED, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                                    reinterpret_cast<void**>(&object), TRUE));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(nullptr, GetModuleHandleW(emulator.c_str()));
    EXPECT_FALSE(marked()) << "a server's code ran";
}

TEST_F(EmulatedCom, AnInProcessHandlerIsNeverMapped)
{
    const std::wstring server = copyOf(L"comserver-signed.dll", L"server-signed.dll");
    const std::wstring handler = copyOf(L"comserver-unsigned.dll", L"handler-unsigned.dll");
    setClassValue(m_key + L"\\InprocServer32", REG_SZ, server);
    setClassValue(m_key + L"\\InprocHandler32", REG_SZ, handler);
    IUnknown* object = reinterpret_cast<IUnknown*>(1);
    EXPECT_TRUE(FAILED(TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_HANDLER, IID_IUnknown,
                                             reinterpret_cast<void**>(&object), TRUE)));
    EXPECT_EQ(nullptr, object);
    EXPECT_FALSE(marked()) << "the handler's code ran";
    object = nullptr;
    EXPECT_EQ(S_OK, TrustCoCreateInstance(clsid, nullptr, CLSCTX_INPROC_HANDLER | CLSCTX_INPROC_SERVER,
                                          IID_IUnknown, reinterpret_cast<void**>(&object), TRUE));
    EXPECT_EQ(1, createdBy(server));
    EXPECT_EQ(nullptr, GetModuleHandleW(handler.c_str())) << "the handler was mapped";
    if (object)
        object->Release();
}

} // namespace

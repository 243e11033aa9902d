// The loader over a library wrapper that answers as each case says: which
// calls reach the wrapper, what comes back and which line is written.
#include "dll/DllLoader.h"

#include "LogFile.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using Ostrand::DllAPI;
using Ostrand::DllLoader;

HMODULE fakeModule(uintptr_t value)
{
    return reinterpret_cast<HMODULE>(value);
}

// Some export's address, to hand back as if it had been found.
FARPROC anExport()
{
    return ::GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount");
}

class ScriptedDllAPI : public DllAPI {
public:
    enum class Answer { Yes, No, Throw };

    bool loadLibrary(const std::wstring&, HMODULE* handle) override
    {
        ++loads;
        if (load == Answer::Throw)
            throw std::runtime_error("load");
        if (load == Answer::Yes)
            *handle = fakeModule(0x1000);
        return load == Answer::Yes;
    }
    FARPROC getProcAddress(HMODULE, const char*) override
    {
        if (lookup == Answer::Throw)
            throw std::runtime_error("lookup");
        return lookup == Answer::Yes ? anExport() : nullptr;
    }
    bool getModuleHandleEx(DWORD flags, LPCWSTR, HMODULE* handle) override
    {
        askedFlags = flags;
        if (loaded)
            *handle = fakeModule(0x2000);
        return loaded;
    }

    bool loaded = false;
    Answer load = Answer::Yes;
    Answer lookup = Answer::Yes;
    int loads = 0;
    DWORD askedFlags = 0xFFFFFFFF;
};

struct LoadCase {
    const char* label;
    bool alreadyLoaded;
    ScriptedDllAPI::Answer load;
    bool result;
    uintptr_t handle;
    int loads;
    const wchar_t* line; // level-4 line, or null for none
};

class LoadDLL : public ::testing::TestWithParam<LoadCase> {};

TEST_P(LoadDLL, AlwaysTheVerifiedLoad)
{
    const LoadCase& c = GetParam();
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    auto api = std::make_shared<ScriptedDllAPI>();
    api->loaded = c.alreadyLoaded;
    api->load = c.load;
    DllLoader loader(api);
    HMODULE handle = nullptr;
    EXPECT_EQ(c.result, loader.loadDLL(L"C:\\Folder\\lib.dll", &handle));
    EXPECT_EQ(fakeModule(c.handle), handle);
    EXPECT_EQ(0xFFFFFFFFu, api->askedFlags) << "a loaded module was looked up by its name";
    EXPECT_EQ(c.loads, api->loads);
    if (c.line)
        EXPECT_EQ(1u, log.find({4, L"DllLoader", L"Ostrand::DllLoader::loadDLL", c.line}).size());
    else
        EXPECT_TRUE(log.find({4, L"", L"", L""}).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoadDLL,
    ::testing::Values(
        // What is mapped under the name proves nothing: the verified load decides.
        LoadCase{"AlreadyLoadedStillVerified", true, ScriptedDllAPI::Answer::No, false, 0, 1,
                 L"Failed to load library. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)."},
        LoadCase{"AlreadyLoadedAndVerified", true, ScriptedDllAPI::Answer::Yes, true, 0x1000, 1, nullptr},
        LoadCase{"Loaded", false, ScriptedDllAPI::Answer::Yes, true, 0x1000, 1, nullptr},
        LoadCase{"Refused", false, ScriptedDllAPI::Answer::No, false, 0, 1,
                 L"Failed to load library. Error code: MODULE_STATUS_UNSUCCESSFUL(2147483650)."},
        LoadCase{"WrapperThrows", false, ScriptedDllAPI::Answer::Throw, false, 0, 1,
                 L"Failed to load library. Error code: MODULE_STATUS_UNKNOWN_EXCEPTION(2147483663)."}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.label); });

TEST(DllLoader, NoHandleToFillIsRefusedBeforeAnyCall)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    auto api = std::make_shared<ScriptedDllAPI>();
    DllLoader loader(api);
    EXPECT_FALSE(loader.loadDLL(L"C:\\Folder\\lib.dll", nullptr));
    EXPECT_EQ(0, api->loads);
    EXPECT_EQ(0xFFFFFFFFu, api->askedFlags);
    EXPECT_TRUE(log.contains(2, L"Invalid pHandle specified. Exiting."));
}

TEST(DllLoader, AMissingOrFailedLookupGivesNullAndAWarning)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    auto api = std::make_shared<ScriptedDllAPI>();
    DllLoader loader(api);
    EXPECT_EQ(anExport(), loader.getProcAddress(fakeModule(1), "Found"));
    api->lookup = ScriptedDllAPI::Answer::No;
    EXPECT_EQ(nullptr, loader.getProcAddress(fakeModule(1), "Missing"));
    api->lookup = ScriptedDllAPI::Answer::Throw;
    EXPECT_EQ(nullptr, loader.getProcAddress(fakeModule(1), "Throws"));
    // The lookup that threw got no answer to speak of: only the missing export is logged.
    EXPECT_EQ(1u, log.find({2, L"DllLoader", L"Ostrand::DllLoader::getProcAddress",
                            L"getProcAddress was unsuccessful in finding the handle's address"})
                      .size());
}

} // namespace

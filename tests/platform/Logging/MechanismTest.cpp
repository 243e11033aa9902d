#include "Logging/CDefaultLogBuilder.h"
#include "Logging/CLogging.h"
#include "Registry/CObfuscatedRegKey.h"

#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

using namespace ETWLogging;

namespace {

enum class Made { File, Etw, None };

Made kindOf(CLoggingIf* logger)
{
    if (!logger)
        return Made::None;
    if (dynamic_cast<CLogging*>(logger))
        return Made::File;
    return dynamic_cast<CLoggingIf_ex*>(logger) ? Made::Etw : Made::None;
}

Made build(uint32_t mechanism, Halvex::CRegKey* key)
{
    const std::wstring group = TestSupport::uniqueName(L"Mech");
    CDefaultLogBuilder builder;
    CLoggingIf* logger = nullptr;
    const bool built = builder.BuildEx(nullptr, group.c_str(), nullptr, nullptr, mechanism, &logger, key);
    const Made kind = kindOf(logger);
    EXPECT_EQ(built, logger != nullptr);
    delete logger;
    return kind;
}

// Serialises the tests that change the machine's own mechanism value.
class MachineValueLock {
public:
    MachineValueLock() : m_mutex(CreateMutexW(nullptr, FALSE, L"Global\\SentrelTests.LoggingMechanism"))
    {
        WaitForSingleObject(m_mutex, 60000);
    }
    ~MachineValueLock()
    {
        ReleaseMutex(m_mutex);
        CloseHandle(m_mutex);
    }

private:
    HANDLE m_mutex;
};

} // namespace

TEST(MechanismTest, ValueOrIdentityChoosesTheLogger)
{
    TestSupport::ScratchRegistryKey scratch;
    struct Case {
        const char* name;
        int value; // -1 absent, -2 unreadable (plain, not enciphered), -3 text
        uint32_t mechanism;
        Made expected;
    } cases[] = {
        {"absent", -1, 0, Made::Etw},      {"unreadable", -2, 0, Made::Etw}, {"text", -3, 0, Made::Etw},
        {"zero", 0, 0, Made::Etw},         {"one", 1, 0, Made::File},        {"two", 2, 0, Made::Etw},
        {"identity 1", 0, 1, Made::File},  {"identity 1, absent", -1, 1, Made::File},
        {"identity 2", 1, 2, Made::File},
    };
    for (const Case& c : cases) {
        RegDeleteValueW(scratch.handle(), kLoggingMechanismValue);
        Halvex::CObfuscatedRegKey key;
        ASSERT_EQ(key.Open(scratch.root(), scratch.path().c_str()), ERROR_SUCCESS);
        if (c.value >= 0) {
            ASSERT_EQ(key.SetDWORDValue(kLoggingMechanismValue, static_cast<DWORD>(c.value)), ERROR_SUCCESS);
        } else if (c.value == -2) {
            const DWORD one = 1;
            scratch.setRaw(kLoggingMechanismValue, REG_DWORD, &one, sizeof(one));
        } else if (c.value == -3) {
            ASSERT_EQ(key.SetStringValue(kLoggingMechanismValue, L"1"), ERROR_SUCCESS);
        }
        EXPECT_EQ(build(c.mechanism, &key), c.expected) << c.name;
    }
}

TEST(MechanismTest, MachineKeyDecidesWhenNoKeyIsGiven)
{
    MachineValueLock lock;
    Halvex::CObfuscatedRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kLoggingKeyPath), ERROR_SUCCESS);
    DWORD saved = 0;
    const bool hadValue = key.QueryDWORDValue(kLoggingMechanismValue, saved) == ERROR_SUCCESS;

    ASSERT_EQ(key.SetDWORDValue(kLoggingMechanismValue, 1), ERROR_SUCCESS);
    EXPECT_EQ(build(0, nullptr), Made::File);
    ASSERT_EQ(key.SetDWORDValue(kLoggingMechanismValue, 3), ERROR_SUCCESS);
    EXPECT_EQ(build(0, nullptr), Made::Etw);
    key.DeleteValue(kLoggingMechanismValue);
    EXPECT_EQ(build(0, nullptr), Made::Etw);

    if (hadValue)
        key.SetDWORDValue(kLoggingMechanismValue, saved);
}

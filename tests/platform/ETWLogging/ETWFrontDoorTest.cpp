#include "ETWLogging/CETWLogging.h"
#include "Logging/CDefaultLogBuilder.h"
#include "Logging/Log.h"
#include "Registry/CObfuscatedRegKey.h"

#include "TestNames.h"

#include <gtest/gtest.h>

using namespace ETWLogging;

TEST(ETWFrontDoorTest, WithoutAMechanismValueTheProcessLogsThroughETW)
{
    // Other tests change the machine's value under the same lock.
    HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Global\\SentrelTests.LoggingMechanism");
    WaitForSingleObject(mutex, 60000);
    Halvex::CObfuscatedRegKey key;
    DWORD saved = 0;
    const bool opened = key.Open(HKEY_LOCAL_MACHINE, kLoggingKeyPath) == ERROR_SUCCESS;
    const bool hadValue = opened && key.QueryDWORDValue(kLoggingMechanismValue, saved) == ERROR_SUCCESS;
    if (hadValue)
        key.DeleteValue(kLoggingMechanismValue);

    SetLogIdentity(nullptr, TestSupport::uniqueName(L"Etw").c_str(), nullptr, nullptr, 0);
    EXPECT_TRUE(IsLogEnabled(LOG_LEVEL_INFORMATION));
    EXPECT_FALSE(IsLogEnabled(LOG_LEVEL_NORMAL));
    EXPECT_NE(dynamic_cast<CETWLogging*>(GetLogger()->Logger()), nullptr);
    EXPECT_EQ(Log(LOG_LEVEL_INFORMATION, L"ETWFrontDoorTest", L"f", 1, L"through %s", L"ETW"), 0u);

    if (hadValue)
        key.SetDWORDValue(kLoggingMechanismValue, saved);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
}

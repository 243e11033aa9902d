#include "ETWLogging/ETWAppProperties.h"

#include "AppRecord.h"
#include "LogFile.h"

#include <gtest/gtest.h>

using ETWLogging::internal::ETWAppProperties;
using EtwTestDoubles::AppRecord;

namespace {

std::wstring programData()
{
    return TestSupport::LogFile::programDataFolder();
}

// {E16CA450-55CC-11E0-B8AF-0800200C9A66}
const GUID kBuiltInProvider = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
// {491FB070-54CC-11E0-B8AF-0800200C9A66}
const GUID kBuiltInSession = {0x491FB070, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

} // namespace

TEST(ETWAppPropertiesTest, BuiltInRecordForTheDefaultApplication)
{
    for (const wchar_t* app : {static_cast<const wchar_t*>(nullptr), L"", L"ZOR"}) {
        ETWAppProperties properties;
        ASSERT_TRUE(properties.Load(app));
        EXPECT_EQ(properties.appName, L"ZOR");
        EXPECT_EQ(properties.appKeyPath, L"SOFTWARE\\Corvane\\Logging");
        EXPECT_EQ(properties.controllerKeyPath, L"SOFTWARE\\Corvane\\Logging\\Controller");
        EXPECT_EQ(properties.providerKeyPath, L"SOFTWARE\\Corvane\\Logging\\Provider");
        EXPECT_EQ(properties.logPath, programData() + L"\\Corvane\\CVLOGS");
        EXPECT_EQ(properties.etlPath, programData() + L"\\Corvane\\CVLOGS\\ETW");
        EXPECT_EQ(properties.etlFilePath, programData() + L"\\Corvane\\CVLOGS\\ETW\\cvlogs.etl");
        EXPECT_EQ(properties.ownerMutexName, L"Global\\Corvane.{0696D115-BE52-46c3-BFEE-D73A305B6581}");
        EXPECT_EQ(properties.sessionName, L"Corvane.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}");
        EXPECT_TRUE(IsEqualGUID(properties.providerGuid, kBuiltInProvider));
        EXPECT_TRUE(IsEqualGUID(properties.sessionGuid, kBuiltInSession));
        EXPECT_TRUE(properties.controllerPath.empty());
        // The record loads once.
        EXPECT_FALSE(properties.Load(nullptr));
    }
    ETWAppProperties lowerCase;
    EXPECT_TRUE(lowerCase.Load(L"zor"));
}

TEST(ETWAppPropertiesTest, UnknownApplicationWithoutRecordFails)
{
    ETWAppProperties properties;
    EXPECT_FALSE(properties.Load(TestSupport::uniqueName(L"NoRecord").c_str()));
}

TEST(ETWAppPropertiesTest, RegistryRecordIsReadWithDefaultsForOptionalPaths)
{
    AppRecord record;
    record.writeComplete();
    ETWAppProperties properties;
    ASSERT_TRUE(properties.Load(record.app().c_str()));
    EXPECT_TRUE(IsEqualGUID(properties.providerGuid, EtwTestDoubles::kRecordProviderGuid));
    EXPECT_TRUE(IsEqualGUID(properties.sessionGuid, EtwTestDoubles::kRecordSessionGuid));
    EXPECT_EQ(properties.sessionName, L"OwnSession");
    EXPECT_EQ(properties.ownerMutexName, L"Global\\OwnMutex");
    EXPECT_EQ(properties.controllerPath, L"C:\\ctl");
    EXPECT_EQ(properties.logPath, programData() + L"\\Own\\Logs");
    EXPECT_EQ(properties.etlFilePath, programData() + L"\\Corvane\\CVLOGS\\ETW\\cvlogs.etl");
    EXPECT_EQ(properties.appKeyPath, record.path());
    EXPECT_EQ(properties.controllerKeyPath, record.path() + L"\\Controller");
    EXPECT_EQ(properties.providerKeyPath, record.path() + L"\\Provider");

    // A copy carries everything.
    ETWAppProperties copy(properties);
    EXPECT_EQ(copy.providerKeyPath, properties.providerKeyPath);
    EXPECT_TRUE(IsEqualGUID(copy.providerGuid, properties.providerGuid));
}

TEST(ETWAppPropertiesTest, IncompleteRecordFailsWithoutFallingBack)
{
    for (const wchar_t* missing :
         {L"Controller Path", L"Owner Mutex Name", L"Session Name", L"Session ID Guid", L"Provider Guid"}) {
        AppRecord record;
        record.writeComplete(missing);
        ETWAppProperties properties;
        EXPECT_FALSE(properties.Load(record.app().c_str())) << TestSupport::narrow(missing);
    }
}

// The module table hosted in this process, so that its log lines land in the
// test's own log file.
#include "LogFile.h"
#include "TestNames.h"

#include "dll/ModuleTable.h"

#include "Logging/CLogBuilderIf.h"
#include "Logging/Log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using TestSupport::LogFile;
using TestSupport::LogQuery;

const ModuleFunctions& table()
{
    return *Ostrand::internal::moduleFunctionTable();
}

// Remembers the group the process's logger is asked for, and makes none.
class GroupRecorder : public ETWLogging::CLogBuilderIf_ex {
public:
    bool Build(const wchar_t* group, HMODULE, const wchar_t*, uint32_t, ETWLogging::CLoggingIf**,
               Halvex::CRegKey*) override
    {
        groups.push_back(group ? group : L"(null)");
        return false;
    }
    bool BuildEx(const wchar_t*, const wchar_t* group, HMODULE, const wchar_t*, uint32_t, ETWLogging::CLoggingIf**,
                 Halvex::CRegKey*) override
    {
        groups.push_back(group ? group : L"(null)");
        return false;
    }
    std::vector<std::wstring> groups;
};

TEST(ModuleTableLog, NewModuleHandsTheModulesNameToTheLoggerBeforeAnythingLogs)
{
    auto recorder = std::make_shared<GroupRecorder>();
    ETWLogging::internal::SetLogBuilder(recorder);
    MODULE_HANDLE handle = nullptr;
    ASSERT_EQ(MODULE_STATUS_SUCCESS, table().NewModule(&handle, L"HostGivenName"));
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, table().StartModule(nullptr)); // the first line of the process
    ASSERT_FALSE(recorder->groups.empty());
    EXPECT_EQ(L"HostGivenName", recorder->groups.front());
    EXPECT_EQ(MODULE_STATUS_SUCCESS, table().DestroyModule(handle));
}

TEST(ModuleTableLog, EveryRefusalWritesItsErrorLine)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    MODULE_HANDLE handle = nullptr;
    ASSERT_EQ(MODULE_STATUS_SUCCESS, table().NewModule(&handle, L"Module"));
    const wchar_t* names[] = {L"first", L"second"};
    const wchar_t* values[] = {L"value", nullptr};

    const struct {
        const wchar_t* entry;
        MODULE_STATUS status;
        const wchar_t* text;
    } cases[] = {
        {L"NewModule", table().NewModule(nullptr, L"Module"), L"Invalid handle address."},
        {L"DestroyModule", table().DestroyModule(nullptr), L"Invalid handle."},
        {L"InitializeModule", table().InitializeModule(nullptr, L"", L"", 0, nullptr, nullptr, nullptr, nullptr),
         L"Invalid handle."},
        {L"InitializeModuleV2",
         table().InitializeModuleV2(nullptr, L"", L"", 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
         L"Invalid handle."},
        {L"StartModule", table().StartModule(nullptr), L"Invalid handle."},
        {L"StopModule", table().StopModule(nullptr), L"Invalid handle."},
        {L"UninitializeModule", table().UninitializeModule(nullptr), L"Invalid handle."},
        {L"DirectMessage", table().DirectMessage(nullptr, nullptr, L"n", L"s", L"p"), L"Invalid handle."},
        {L"InitializeModule", table().InitializeModule(handle, nullptr, L"", 0, nullptr, nullptr, nullptr, nullptr),
         L"Invalid module name."},
        {L"InitializeModuleV2",
         table().InitializeModuleV2(handle, L"", L"", 2, nullptr, values, nullptr, nullptr, nullptr, nullptr),
         L"Invalid parameter arrays."},
        {L"InitializeModule", table().InitializeModule(handle, L"", L"", 2, names, values, nullptr, nullptr),
         L"Invalid parameter at index 1."},
        {L"DirectMessage", table().DirectMessage(handle, nullptr, L"n", nullptr, L"p"), L"Invalid message string."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, c.status) << TestSupport::narrow(c.text);
        const auto found = log.find(LogQuery{ETWLogging::LOG_LEVEL_ERROR, L"ModuleFunctions", c.entry, c.text});
        ASSERT_FALSE(found.empty()) << TestSupport::narrow(c.entry) << ": " << TestSupport::narrow(c.text);
        EXPECT_EQ(c.text, found.front().text);
    }
    EXPECT_EQ(sizeof(cases) / sizeof(cases[0]), log.find(LogQuery{ETWLogging::LOG_LEVEL_ERROR, L"", L"", L""}).size());
    EXPECT_EQ(MODULE_STATUS_SUCCESS, table().DestroyModule(handle));
}

TEST(ModuleTableLog, ABaseModuleWithoutTheHostsBusHandleStopsAtTheBusShim)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    SetEnvironmentVariableW(L"TESTMODULE_BEHAVIOUR", L"base");
    MODULE_HANDLE handle = nullptr;
    ASSERT_EQ(MODULE_STATUS_SUCCESS, table().NewModule(&handle, L"Module"));
    MessageBusFunctions functions{};
    EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, table().InitializeModuleV2(handle, L"Module", L"", 0, nullptr, nullptr,
                                                                          nullptr, nullptr, nullptr, &functions));
    EXPECT_EQ(MODULE_STATUS_SUCCESS, table().DestroyModule(handle));

    const auto errors = log.find(LogQuery{ETWLogging::LOG_LEVEL_ERROR, L"", L"", L""});
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(L"MessageBusShimImpl", errors[0].file);
    EXPECT_EQ(L"Invalid message bus handle. Throwing ModuleException.", errors[0].text);
}

} // namespace

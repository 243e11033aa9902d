#include "wrappers/DllAPI.h"
#include "wrappers/ProcessAPI.h"
#include "wrappers/ShlObjAPI.h"

#include "FileSystem/FileSystem.h"
#include "LogFile.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <string>

using Ostrand::DllAPI;
using Ostrand::ProcessAPI;
using Ostrand::ShlObjAPI;
using TestSupport::LogFile;
using TestSupport::LogQuery;

TEST(ProcessAPI, AnswersForTheCurrentProcess)
{
    ProcessAPI api;
    const DWORD pid = api.getCurrentProcessId();
    EXPECT_EQ(GetCurrentProcessId(), pid);
    EXPECT_EQ(pid, api.getProcessId(api.getCurrentProcess()));

    DWORD session = 0xFFFFFFFFu;
    ASSERT_TRUE(api.processIdToSessionId(pid, &session));
    DWORD expected = 0;
    ASSERT_TRUE(ProcessIdToSessionId(pid, &expected));
    EXPECT_EQ(expected, session);
    EXPECT_EQ(WTSGetActiveConsoleSessionId(), api.wtsGetActiveConsoleSessionId());

    HANDLE self = api.openProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(nullptr, self);
    DWORD exitCode = 0;
    EXPECT_TRUE(api.getExitCodeProcess(self, &exitCode));
    EXPECT_EQ(STILL_ACTIVE, exitCode);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), api.waitForSingleObject(self, 0));
    EXPECT_TRUE(api.closeHandle(self));

    EXPECT_FALSE(api.closeHandle(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), api.getLastError());
}

TEST(ProcessAPI, SnapshotListsTheCurrentProcess)
{
    ProcessAPI api;
    HANDLE snapshot = api.createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, snapshot);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = api.process32First(snapshot, &entry); more; more = api.process32Next(snapshot, &entry))
        found = found || entry.th32ProcessID == api.getCurrentProcessId();
    EXPECT_TRUE(found);
    api.closeHandle(snapshot);
}

TEST(ProcessAPI, TokenAndPrivilegeCalls)
{
    ProcessAPI api;
    HANDLE token = nullptr;
    ASSERT_TRUE(api.openProcessToken(api.getCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    ASSERT_TRUE(api.lookupPrivilegeValue(nullptr, SE_CHANGE_NOTIFY_NAME, &privileges.Privileges[0].Luid));
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_TRUE(api.adjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr));
    EXPECT_FALSE(api.lookupPrivilegeValue(nullptr, L"NoSuchPrivilegeName", &privileges.Privileges[0].Luid));
    api.closeHandle(token);
}

TEST(ShlObjAPI, KnownFolderAndFailure)
{
    ShlObjAPI api;
    PWSTR path = nullptr;
    ASSERT_EQ(S_OK, api.SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path));
    ASSERT_NE(nullptr, path);
    const std::wstring folder = path;
    CoTaskMemFree(path);
    EXPECT_GT(folder.size(), 3u);
    EXPECT_NE(L'\\', folder.back());

    const GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    path = nullptr;
    EXPECT_LT(api.SHGetKnownFolderPath(unknown, 0, nullptr, &path), 0);
    CoTaskMemFree(path);
}

TEST(DllAPI, ModuleHandleProcAddressAndFree)
{
    DllAPI api;
    HMODULE kernel = nullptr;
    ASSERT_TRUE(api.getModuleHandleEx(0, L"kernel32.dll", &kernel));
    ASSERT_NE(nullptr, kernel);
    EXPECT_EQ(reinterpret_cast<FARPROC>(GetProcAddress(kernel, "GetTickCount")), api.getProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(nullptr, api.getProcAddress(kernel, "NoSuchExport"));
    EXPECT_TRUE(api.freeLibrary(kernel)); // the reference the handle query took

    HMODULE missing = reinterpret_cast<HMODULE>(1);
    EXPECT_FALSE(api.getModuleHandleEx(0, L"no_such_library_here.dll", &missing));
    EXPECT_EQ(nullptr, missing);
    EXPECT_FALSE(api.isTrusted(L""));
    HMODULE loaded = nullptr;
    EXPECT_FALSE(api.loadLibrary(L"", &loaded));
    EXPECT_EQ(nullptr, loaded);
    EXPECT_FALSE(api.loadLibrary(L"C:\\windows\\system32\\kernel32.dll", nullptr));
}

TEST(DllAPI, UnsignedLibraryIsNeverMapped)
{
    LogFile log;
    ASSERT_TRUE(log.ready());
    std::wstring folder;
    ASSERT_TRUE(Halvex::GetHostFolder(folder, true));
    const std::wstring path = folder + UNSIGNED_MODULE_NAME;
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));

    DllAPI api;
    HMODULE module = reinterpret_cast<HMODULE>(1);
    EXPECT_FALSE(api.loadLibrary(path, &module));
    EXPECT_EQ(nullptr, module);
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str()));
    EXPECT_FALSE(api.isTrusted(path));

    LogQuery query;
    query.level = 4;
    query.file = L"DllAPI";
    query.function = L"Ostrand::DllAPI::loadLibrary";
    query.text = L"LoadLibrary Failed. GLE: ";
    const auto lines = log.find(query);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(L"LoadLibrary Failed. GLE: 5", lines[0].text) << "the trust check's refusal";
}

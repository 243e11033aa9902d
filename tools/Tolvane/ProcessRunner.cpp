#include "ProcessRunner.h"

#include <memory>
#include <type_traits>
#include <vector>

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const
    {
        if (handle)
            CloseHandle(handle);
    }
};
using OwnedHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

} // namespace

bool runProcess(const std::wstring& commandLine, DWORD& exitCode)
{
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process))
        return false;
    const OwnedHandle processHandle(process.hProcess);
    const OwnedHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.get(), INFINITE) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    if (!GetExitCodeProcess(processHandle.get(), &code))
        return false;
    exitCode = code;
    return true;
}

// Double of the suite's installer. The test names a journal file in
// CVINST_JOURNAL; each run appends, as UTF-8 lines,
//   commandline=<the whole command line>
//   cwd=<the current folder>
//   arg=<each argument after the program name>
// then, when CVINST_RUN holds a command line, runs it, waits for it and appends
//   ran=<its exit code>
// then, when CVINST_WAIT_EVENT names an event, waits until it is set (the
// uninstall is "under way" for as long as the test wants), and ends with the
// exit code in CVINST_EXIT_CODE (decimal, default 0).
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::wstring environmentValue(const wchar_t* name)
{
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

void append(const std::wstring& journal, const std::string& text)
{
    HANDLE file = CreateFileW(journal.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

// The exit code of the command line, or "none" when it did not start or end.
std::string runToEnd(std::wstring commandLine)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return "none";
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process.hProcess, 300000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? std::to_string(code) : "none";
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring journal = environmentValue(L"CVINST_JOURNAL");
    if (!journal.empty()) {
        wchar_t cwd[MAX_PATH + 1] = {};
        GetCurrentDirectoryW(MAX_PATH, cwd);
        std::string text = "commandline=" + utf8(GetCommandLineW()) + "\n" + "cwd=" + utf8(cwd) + "\n";
        for (int i = 1; i < argc; ++i)
            text += "arg=" + utf8(argv[i]) + "\n";
        append(journal, text);
    }
    const std::wstring child = environmentValue(L"CVINST_RUN");
    if (!child.empty()) {
        const std::string ran = "ran=" + runToEnd(child) + "\n";
        if (!journal.empty())
            append(journal, ran);
    }
    const std::wstring eventName = environmentValue(L"CVINST_WAIT_EVENT");
    if (!eventName.empty()) {
        const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, eventName.c_str());
        if (event) {
            // Bounded, so that a test that fails before setting it leaves no process behind for long.
            WaitForSingleObject(event, 300000);
            CloseHandle(event);
        }
    }
    const std::wstring code = environmentValue(L"CVINST_EXIT_CODE");
    return code.empty() ? 0 : static_cast<int>(wcstoul(code.c_str(), nullptr, 10));
}

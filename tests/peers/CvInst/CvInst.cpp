// Double of the suite's installer. The test names a journal file in
// CVINST_JOURNAL; each run appends, as UTF-8 lines,
//   commandline=<the whole command line>
//   cwd=<the current folder>
//   arg=<each argument after the program name>
// and ends with the exit code in CVINST_EXIT_CODE (decimal, default 0).
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
        HANDLE file = CreateFileW(journal.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
            CloseHandle(file);
        }
    }
    const std::wstring code = environmentValue(L"CVINST_EXIT_CODE");
    return code.empty() ? 0 : static_cast<int>(wcstoul(code.c_str(), nullptr, 10));
}

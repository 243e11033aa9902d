#include "ChildProcess.h"

#include <windows.h>

#include <thread>

namespace TestSupport {

namespace {

std::wstring quoted(const std::wstring& argument)
{
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
        } else {
            if (c == L'"')
                text.append(backslashes + 1, L'\\');
            backslashes = 0;
        }
        text += c;
    }
    text.append(backslashes, L'\\');
    return text + L"\"";
}

} // namespace

std::vector<std::string> ChildProcessResult::lines() const
{
    std::vector<std::string> result;
    size_t begin = 0;
    while (begin < output.size()) {
        size_t end = output.find('\n', begin);
        if (end == std::string::npos)
            end = output.size();
        std::string line = output.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        result.push_back(line);
        begin = end + 1;
    }
    return result;
}

ChildProcessResult runChildProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                   std::chrono::milliseconds deadline)
{
    ChildProcessResult result;
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return result;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    std::wstring commandLine = quoted(program);
    for (const auto& argument : arguments)
        commandLine += L" " + quoted(argument);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = writeEnd;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return result;
    }

    std::thread reader([&] {
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0)
            result.output.append(buffer, read);
    });
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(deadline.count())) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = code;
        result.finished = true;
    } else {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    reader.join();
    CloseHandle(readEnd);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

std::wstring buildMachinePath(const char* path)
{
    std::wstring result = L"Z:";
    for (const char* c = path; *c; ++c)
        result += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    return result;
}

} // namespace TestSupport

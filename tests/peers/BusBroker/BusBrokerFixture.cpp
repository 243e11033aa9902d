#include "BusBrokerFixture.h"

#include "TestNames.h"

#include <chrono>
#include <stdexcept>
#include <thread>

namespace BusBroker {

namespace {

std::wstring besideThisProgram(const wchar_t* file)
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0)
            throw std::runtime_error("the test program's path is unknown");
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

// Pipe names take no backslash; gtest names may hold a slash.
std::wstring pipeSafe(std::wstring name)
{
    for (wchar_t& c : name) {
        if (c == L'\\' || c == L'/')
            c = L'_';
    }
    return name;
}

} // namespace

BusBrokerFixture::BusBrokerFixture(const std::wstring& pipeName)
    : m_pipeName(pipeName.empty() ? pipeSafe(L"OndrelBroker." + TestSupport::uniqueName()) : pipeName)
{
    SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        throw std::runtime_error("no pipe for the broker's input");
    OwnedHandle childInput(readEnd);
    m_input.reset(writeEnd);
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);

    const std::wstring program = besideThisProgram(L"OndrelBroker.exe");
    std::wstring commandLine = L"\"" + program + L"\" \"" + m_pipeName + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = readEnd;
    startup.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        throw std::runtime_error("the broker program did not start");
    CloseHandle(process.hThread);
    m_process.reset(process.hProcess);

    // Listening means a connection succeeds; the broker drops it at once.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        if (BrokerPipe::connect(m_pipeName, 0))
            break;
        if (!running() || std::chrono::steady_clock::now() >= deadline) {
            TerminateProcess(m_process.get(), 1);
            throw std::runtime_error("the broker did not start listening");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    SetEnvironmentVariableW(kBrokerPipeVariable, m_pipeName.c_str());
}

BusBrokerFixture::~BusBrokerFixture()
{
    SetEnvironmentVariableW(kBrokerPipeVariable, nullptr);
    m_input.reset();
    if (WaitForSingleObject(m_process.get(), 5000) != WAIT_OBJECT_0) {
        TerminateProcess(m_process.get(), 1);
        WaitForSingleObject(m_process.get(), 5000);
    }
}

bool BusBrokerFixture::running() const
{
    return WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

} // namespace BusBroker

#include "LogWriterProcess.h"

#include "ChildProcess.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <future>
#include <thread>

namespace LogWriterProcess {

namespace {

const wchar_t kArgument[] = L"--log-writer";
const wchar_t kFilter[] = L"--gtest_filter=FileLoggerWriterProcess.WritesItsShare";
// Only reached when a writer hangs or never starts.
const DWORD kWaitBound = 60000;

struct Arguments {
    Share share;
    std::wstring ready;
    std::wstring start;
    std::wstring stop;
};

// The system's clock, counting the milliseconds the logger pauses.
class PauseCountingClock : public ETWLogging::CLogWaitBudget::Clock {
public:
    uint64_t Now() override { return GetTickCount64(); }
    void Pause(DWORD milliseconds) override
    {
        m_paused += milliseconds;
        Sleep(milliseconds);
    }
    uint64_t Paused() const { return m_paused.load(); }

private:
    std::atomic<uint64_t> m_paused{0};
};

// The writer's arguments follow kArgument, one each.
bool parseArguments(Arguments& out)
{
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!argv)
        return false;
    std::vector<std::wstring> values;
    for (int i = 1; i < count; ++i)
        if (wcscmp(argv[i], kArgument) == 0)
            values.assign(argv + i + 1, argv + count);
    LocalFree(argv);
    if (values.size() != 11)
        return false;
    out.share.root = values[0];
    out.share.writer = static_cast<unsigned>(std::stoul(values[1]));
    out.share.threads = static_cast<unsigned>(std::stoul(values[2]));
    out.share.lines = static_cast<unsigned>(std::stoul(values[3]));
    out.share.padding = static_cast<unsigned>(std::stoul(values[4]));
    out.share.endMidLine = values[5] == L"1";
    out.share.untilStopped = values[6] == L"1";
    out.share.waitMilliseconds = static_cast<unsigned>(std::stoul(values[7]));
    out.ready = values[8];
    out.start = values[9];
    out.stop = values[10];
    return true;
}

std::wstring thisProgram()
{
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4 - 1);
    path[length] = L'\0';
    return path;
}

} // namespace

uint32_t ScratchFileLogger::GetProgramDataFolder(wchar_t* buffer, size_t capacity)
{
    if (m_root.size() >= capacity)
        return ERROR_INVALID_PARAMETER;
    wcscpy(buffer, m_root.c_str());
    return ERROR_SUCCESS;
}

std::wstring lineText(unsigned writer, unsigned thread, unsigned number, unsigned padding)
{
    wchar_t head[64];
    swprintf(head, 64, L"w%02u t%02u n%05u ", writer, thread, number);
    return head + std::wstring(padding, L'x');
}

bool parseLineText(const std::wstring& text, unsigned padding, unsigned& writer, unsigned& thread, unsigned& number)
{
    const std::wstring sample = lineText(0, 0, 0, padding);
    if (text.size() != sample.size() || text.compare(16, std::wstring::npos, sample, 16, std::wstring::npos) != 0)
        return false;
    wchar_t w = 0, t = 0, n = 0, blank1 = 0, blank2 = 0, blank3 = 0;
    if (swscanf(text.c_str(), L"%lc%2u%lc%lc%2u%lc%lc%5u%lc", &w, &writer, &blank1, &t, &thread, &blank2, &n, &number,
                &blank3) != 9)
        return false;
    return w == L'w' && t == L't' && n == L'n' && blank1 == L' ' && blank2 == L' ' && blank3 == L' ' &&
           text == lineText(writer, thread, number, padding);
}

bool reported(const std::string& output, const std::string& key, unsigned long long& value)
{
    const std::string head = key + " ";
    for (size_t at = output.find(head); at != std::string::npos; at = output.find(head, at + 1)) {
        if (at != 0 && output[at - 1] != '\n')
            continue;
        char* end = nullptr;
        const char* digits = output.c_str() + at + head.size();
        value = std::strtoull(digits, &end, 10);
        if (end != digits)
            return true;
    }
    return false;
}

std::vector<Outcome> runTogether(const std::vector<Share>& shares, std::chrono::milliseconds deadline,
                                 const std::function<void()>& whileRunning)
{
    const std::wstring name = TestSupport::uniqueName(L"writers");
    const std::wstring readyName = L"Local\\" + name + L"-ready";
    const std::wstring startName = L"Local\\" + name + L"-start";
    const std::wstring stopName = L"Local\\" + name + L"-stop";
    HANDLE ready = CreateSemaphoreW(nullptr, 0, static_cast<LONG>(shares.size()), readyName.c_str());
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, startName.c_str());
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, stopName.c_str());
    if (!ready || !start || !stop) {
        ADD_FAILURE() << "cannot make the writers' semaphore and events: " << GetLastError();
        for (HANDLE handle : {ready, start, stop})
            if (handle)
                CloseHandle(handle);
        return {};
    }

    std::vector<std::future<TestSupport::ChildProcessResult>> running;
    for (const Share& share : shares) {
        const std::vector<std::wstring> arguments = {kFilter,
                                                     kArgument,
                                                     share.root,
                                                     std::to_wstring(share.writer),
                                                     std::to_wstring(share.threads),
                                                     std::to_wstring(share.lines),
                                                     std::to_wstring(share.padding),
                                                     share.endMidLine ? L"1" : L"0",
                                                     share.untilStopped ? L"1" : L"0",
                                                     std::to_wstring(share.waitMilliseconds),
                                                     readyName,
                                                     startName,
                                                     stopName};
        running.push_back(std::async(std::launch::async, [arguments, deadline] {
            return TestSupport::runChildProcess(thisProgram(), arguments, deadline);
        }));
    }
    bool allReady = true;
    for (size_t i = 0; i < shares.size() && allReady; ++i)
        allReady = WaitForSingleObject(ready, kWaitBound) == WAIT_OBJECT_0;
    EXPECT_TRUE(allReady) << "not every writer process got ready";
    SetEvent(start);
    if (whileRunning && allReady)
        whileRunning();
    SetEvent(stop);

    std::vector<Outcome> outcomes;
    for (auto& child : running) {
        const TestSupport::ChildProcessResult result = child.get();
        outcomes.push_back({result.finished, result.exitCode, result.output});
    }
    CloseHandle(ready);
    CloseHandle(start);
    CloseHandle(stop);
    return outcomes;
}

bool isWriterProcess()
{
    Arguments arguments;
    return parseArguments(arguments);
}

void writeShare()
{
    Arguments arguments;
    ASSERT_TRUE(parseArguments(arguments));
    const Share& share = arguments.share;
    auto clock = std::make_shared<PauseCountingClock>();
    auto logger = std::make_unique<ScratchFileLogger>(share.root);
    if (share.waitMilliseconds != 0)
        logger->SetFolderLockTiming(share.waitMilliseconds, ETWLogging::CLogWaitBudget::kDefaultBackOff, clock);
    ASSERT_EQ(logger->Init(L"grp", nullptr, L"hst", nullptr), 0u);

    HANDLE ready = OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, arguments.ready.c_str());
    HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, arguments.start.c_str());
    HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, arguments.stop.c_str());
    ASSERT_NE(ready, nullptr);
    ASSERT_NE(start, nullptr);
    ASSERT_NE(stop, nullptr);
    ReleaseSemaphore(ready, 1, nullptr);
    const bool started = WaitForSingleObject(start, kWaitBound) == WAIT_OBJECT_0;
    CloseHandle(ready);
    CloseHandle(start);
    ASSERT_TRUE(started);

    std::vector<std::thread> threads;
    std::vector<int> failures(share.threads, 0);
    for (unsigned t = 0; t < share.threads; ++t)
        threads.emplace_back([&, t] {
            for (unsigned i = 0; i < share.lines; ++i)
                if (logger->Write(L"Src", L"f", 1, 3, lineText(share.writer, t, i, share.padding).c_str()) != 0)
                    ++failures[t];
        });
    for (auto& thread : threads)
        thread.join();
    for (unsigned t = 0; t < share.threads; ++t)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
    if (share.untilStopped) {
        EXPECT_EQ(WaitForSingleObject(stop, kWaitBound), WAIT_OBJECT_0);
    }
    CloseHandle(stop);

    if (share.endMidLine) {
        ETWLogging::CLogFolderLock lock;
        lock.Open(logger->LogFolder());
        ETWLogging::CLogWaitBudget budget;
        ETWLogging::CLogFolderLock::Guard turn(lock, budget, ETWLogging::CLogFolderLock::Wait::AsAllowed);
        ASSERT_TRUE(turn.Held());
        HANDLE file = CreateFileW(logger->LogFilePath(0).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        const std::wstring half = L"half a li";
        std::string bytes(reinterpret_cast<const char*>(half.data()), half.size() * sizeof(wchar_t));
        bytes += 'n';
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
        TerminateProcess(GetCurrentProcess(), kEndedMidLine);
    }
    logger.reset();
    std::printf("paused %llu\n", static_cast<unsigned long long>(clock->Paused()));
    std::fflush(stdout);
}

} // namespace LogWriterProcess

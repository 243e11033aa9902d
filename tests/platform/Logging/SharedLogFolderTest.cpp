// Several processes, each with several threads, writing into one log folder.
#include "FileSystem/FileSystem.h"
#include "Ini/CObfuscatedIniReader.h"
#include "Logging/CLogFolderLock.h"
#include "Logging/CLogWaitBudget.h"
#include "Logging/CLogging.h"

#include "LogFile.h"
#include "LogWriterProcess.h"
#include "ScratchFolder.h"
#include "TestNames.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <cwchar>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace ETWLogging;
using LogWriterProcess::ScratchFileLogger;
using LogWriterProcess::Share;

namespace {

// A name in the folder that is not a writer's turn, there before the writers start.
enum class Obstacle { None, Folder, ReadOnlyFile };

struct SharedFolderCase {
    const char* name;
    unsigned processes;
    unsigned threads;
    unsigned lines;   // per thread
    unsigned padding; // letters after the line's number
    uint32_t maxSize;
    uint32_t maxEntries;
    Obstacle obstacle = Obstacle::None;
    const wchar_t* obstacleName = nullptr;
    // Once the writers have begun, a writer of the folder keeps the turn this
    // long, as one stalled inside its line would.
    DWORD holdMilliseconds = 0;
};

void PrintTo(const SharedFolderCase& c, std::ostream* os)
{
    *os << c.name;
}

class SharedLogFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = m_scratch.path() + L"\\Corvane\\CVLOGS\\grp\\" + TestSupport::LogFile::programStem();
        m_ini = m_folder + L"\\log.ini";
    }
    // The folder made, its ini set to files of 10 MB, before any logger starts.
    bool makeFolderOfTenMegabyteFiles() const
    {
        if (Halvex::CreateDirectoryPath(m_folder.c_str()) != ERROR_SUCCESS)
            return false;
        Halvex::CObfuscatedIniReader ini;
        ini.Load(m_ini);
        return ini.SetInt(L"Config", L"MaxSize", 0xA00000);
    }
    std::wstring logPath(unsigned index) const
    {
        wchar_t suffix[16];
        swprintf(suffix, 16, L"%03u.log", index);
        return m_folder + L"\\" + TestSupport::LogFile::programStem() + L"_hst" + suffix;
    }

    TestSupport::ScratchFolder m_scratch;
    std::wstring m_folder;
    std::wstring m_ini;
};

class SharedLogFolderTest : public SharedLogFolder, public ::testing::WithParamInterface<SharedFolderCase> {};

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Takes the folder's turn as any other writer would, and keeps it until closed.
HANDLE takeTurn(const std::wstring& folder, DWORD sharing = 0, DWORD flags = FILE_FLAG_DELETE_ON_CLOSE,
                const wchar_t* name = CLogFolderLock::kFileName)
{
    const std::wstring path = folder + L"\\" + name;
    return CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, sharing, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

bool makeObstacle(const std::wstring& path, Obstacle obstacle)
{
    switch (obstacle) {
    case Obstacle::None:
        return true;
    case Obstacle::Folder:
        return CreateDirectoryW(path.c_str(), nullptr) && CreateDirectoryW((path + L"\\inside").c_str(), nullptr);
    case Obstacle::ReadOnlyFile: {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(file);
        return true;
    }
    }
    return false;
}

// Lines of the writers in the folder's files so far.
size_t linesInFiles(const std::function<std::wstring(unsigned)>& logPath, uint32_t maxEntries)
{
    size_t lines = 0;
    for (unsigned k = 0; k < maxEntries; ++k)
        lines += TestSupport::LogFile::rawLines(logPath(k)).size();
    return lines;
}

} // namespace

// Every line once and whole, files filled to exactly the lines MaxSize allows
// in turn, and every setting of the folder's ini file still there.
TEST_P(SharedLogFolderTest, EveryLineOnceAndWholeAndTheSettingsKept)
{
    const SharedFolderCase& c = GetParam();
    const std::map<std::wstring, int> settings = {{L"MaxSize", static_cast<int>(c.maxSize)},
                                                  {L"MaxEntries", static_cast<int>(c.maxEntries)},
                                                  {L"Options", 0},
                                                  {L"Severity", 2}};
    ASSERT_TRUE(CreateDirectoryW((m_scratch.path() + L"\\Corvane").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((m_scratch.path() + L"\\Corvane\\CVLOGS").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((m_scratch.path() + L"\\Corvane\\CVLOGS\\grp").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(m_folder.c_str(), nullptr));
    if (c.obstacle != Obstacle::None) {
        ASSERT_TRUE(makeObstacle(m_folder + L"\\" + c.obstacleName, c.obstacle)) << GetLastError();
    }
    {
        Halvex::CObfuscatedIniReader ini;
        ini.Load(m_ini);
        for (const auto& setting : settings)
            ASSERT_TRUE(ini.SetInt(L"Config", setting.first, setting.second));
    }

    // Options 0: every line has the same length, head and text.
    std::wstring sample;
    {
        ScratchFileLogger logger(m_scratch.path());
        ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
        ASSERT_EQ(logger.GetOptions(), 0u);
        SYSTEMTIME now;
        GetLocalTime(&now);
        ASSERT_EQ(logger.FormatLine(now, L"Src", L"f", 1, 3, LogWriterProcess::lineText(0, 0, 0, c.padding).c_str(),
                                    sample),
                  0u);
    }
    const size_t lineBytes = sample.size() * sizeof(wchar_t);
    const size_t perFile = (c.maxSize - 2 + lineBytes - 1) / lineBytes; // after the byte-order mark
    const size_t total = static_cast<size_t>(c.processes) * c.threads * c.lines;
    const size_t files = (total + perFile - 1) / perFile;
    ASSERT_LE(files, c.maxEntries) << "the ring must not wrap: every line is to be kept";

    std::vector<Share> shares;
    for (unsigned p = 0; p < c.processes; ++p) {
        shares.push_back({m_scratch.path(), p, c.threads, c.lines, c.padding});
        shares.back().untilStopped = c.holdMilliseconds != 0;
    }
    std::function<void()> holdTheTurn;
    bool heldWithLinesToCome = false;
    if (c.holdMilliseconds != 0)
        holdTheTurn = [&] {
            const auto path = [this](unsigned k) { return logPath(k); };
            HANDLE held = INVALID_HANDLE_VALUE;
            EXPECT_TRUE(TestSupport::waitUntil([&] {
                if (linesInFiles(path, c.maxEntries) == 0)
                    return false;
                held = takeTurn(m_folder);
                return held != INVALID_HANDLE_VALUE;
            }));
            if (held == INVALID_HANDLE_VALUE)
                return;
            heldWithLinesToCome = linesInFiles(path, c.maxEntries) < total;
            // The stall itself, not a wait for something to happen.
            Sleep(c.holdMilliseconds);
            CloseHandle(held);
        };
    const auto outcomes = LogWriterProcess::runTogether(shares, std::chrono::seconds(120), holdTheTurn);
    if (c.holdMilliseconds != 0) {
        EXPECT_TRUE(heldWithLinesToCome) << "the writers were done before the turn was held";
    }
    ASSERT_EQ(outcomes.size(), shares.size());
    for (size_t p = 0; p < outcomes.size(); ++p) {
        EXPECT_TRUE(outcomes[p].finished) << p;
        EXPECT_EQ(outcomes[p].exitCode, 0u) << outcomes[p].output;
    }

    // writer, thread -> the numbers seen, in file order
    std::map<std::pair<unsigned, unsigned>, std::vector<unsigned>> seen;
    size_t torn = 0, lines = 0;
    for (unsigned k = 0; k < c.maxEntries; ++k) {
        const std::vector<std::wstring> fileLines = TestSupport::LogFile::rawLines(logPath(k));
        if (k < files)
            EXPECT_EQ(fileLines.size(), k + 1 < files ? perFile : total - perFile * (files - 1)) << "file " << k;
        else
            EXPECT_FALSE(exists(logPath(k))) << "file " << k;
        for (const std::wstring& line : fileLines) {
            ++lines;
            unsigned writer = 0, thread = 0, number = 0;
            const size_t textStart = line.find(L")$ ");
            if (line.size() != sample.size() - 2 || textStart == std::wstring::npos ||
                !LogWriterProcess::parseLineText(line.substr(textStart + 3), c.padding, writer, thread, number)) {
                ++torn;
                continue;
            }
            seen[{writer, thread}].push_back(number);
        }
    }
    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(lines, total);
    for (unsigned p = 0; p < c.processes; ++p)
        for (unsigned t = 0; t < c.threads; ++t) {
            std::vector<unsigned> expected(c.lines);
            for (unsigned i = 0; i < c.lines; ++i)
                expected[i] = i;
            EXPECT_EQ(seen[std::make_pair(p, t)], expected) << "writer " << p << " thread " << t << ": "
                                                            << seen[std::make_pair(p, t)].size() << " lines";
        }

    Halvex::CObfuscatedIniReader ini;
    ASSERT_TRUE(ini.Load(m_ini));
    for (const auto& setting : settings) {
        int value = -1;
        EXPECT_TRUE(ini.GetInt(L"Config", setting.first, value)) << TestSupport::narrow(setting.first);
        EXPECT_EQ(value, setting.second) << TestSupport::narrow(setting.first);
    }
    int last = 0;
    const bool hasLast = ini.GetInt(L"Config", L"LastLogIdx", last);
    EXPECT_EQ(hasLast ? last : 0, static_cast<int>(files - 1));
    // Nothing but the section and the settings, each with its header.
    std::set<std::string> allowed = {"[Config]"};
    for (const auto& setting : settings) {
        allowed.insert(TestSupport::narrow(setting.first));
        allowed.insert("_" + TestSupport::narrow(setting.first));
    }
    allowed.insert("LastLogIdx");
    allowed.insert("_LastLogIdx");
    const std::string iniText = TestSupport::ScratchFolder::read(m_ini);
    size_t begin = 0;
    while (begin < iniText.size()) {
        size_t end = iniText.find('\n', begin);
        if (end == std::string::npos)
            end = iniText.size();
        std::string line = iniText.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        EXPECT_EQ(allowed.count(line.substr(0, line.find('='))), 1u) << line;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, SharedLogFolderTest,
    ::testing::Values(SharedFolderCase{"OneFile", 4, 4, 250, 40, 0xA00000, 3},
                      SharedFolderCase{"Rotating", 4, 4, 250, 450, 0x40000, 20},
                      SharedFolderCase{"TwoProcessesRotating", 2, 1, 1000, 450, 0x40000, 10},
                      SharedFolderCase{"RotatingBesideATurnHeldTwoSeconds", 4, 4, 500, 40, 0x40000, 40, Obstacle::None,
                                       nullptr, 2000},
                      SharedFolderCase{"RotatingBesideAFolderAtTheTurnsName", 4, 4, 250, 40, 0x40000, 40,
                                       Obstacle::Folder, L"log.lock"},
                      SharedFolderCase{"RotatingBesideAReadOnlyFileAtTheTurnsName", 4, 4, 250, 40, 0x40000, 40,
                                       Obstacle::ReadOnlyFile, L"log.lock"},
                      SharedFolderCase{"RotatingBesideAReadOnlyFileAtTheReservationsName", 4, 4, 250, 40, 0x40000,
                                       40, Obstacle::ReadOnlyFile, L"log.next"},
                      SharedFolderCase{"RotatingBesideAFolderAtTheReservationsName", 4, 4, 250, 40, 0x40000, 40,
                                       Obstacle::Folder, L"log.next"}),
    [](const ::testing::TestParamInfo<SharedFolderCase>& info) { return std::string(info.param.name); });

namespace {

// The clock of the waits for a turn: it moves only when the logger pauses (or
// the test says so), so a wait costs no real time and is counted exactly.
class CountingClock : public CLogWaitBudget::Clock {
public:
    uint64_t Now() override { return m_now.load(); }
    void Pause(DWORD milliseconds) override
    {
        m_paused += milliseconds;
        m_now += milliseconds;
        if (m_onPause)
            m_onPause();
    }
    void Advance(uint64_t milliseconds) { m_now += milliseconds; }
    // Milliseconds the logger has paused, waiting for a turn.
    uint64_t Paused() const { return m_paused.load(); }
    // Runs on the pausing thread at every pause.
    std::function<void()> m_onPause;

private:
    std::atomic<uint64_t> m_now{1000000};
    std::atomic<uint64_t> m_paused{0};
};

const DWORD kWait = 1000;
const DWORD kBackOff = 60000;

// True when the folder's turn can be had at once.
bool turnIsFree(const std::wstring& folder)
{
    HANDLE turn = takeTurn(folder);
    if (turn == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(turn);
    return true;
}

// Lines of the form "t<thread> n<number>" in the log file, whole, in order
// per thread: thread t wrote counts[t] of them.
void expectEveryLineWhole(const std::wstring& path, const std::vector<unsigned>& counts)
{
    std::vector<std::vector<unsigned>> seen(counts.size());
    for (const std::wstring& line : TestSupport::LogFile::rawLines(path)) {
        unsigned thread = 0, number = 0;
        const size_t text = line.rfind(L"$ ");
        ASSERT_NE(text, std::wstring::npos) << TestSupport::narrow(line);
        ASSERT_EQ(swscanf(line.c_str() + text + 2, L"t%u n%u", &thread, &number), 2) << TestSupport::narrow(line);
        ASSERT_LT(thread, counts.size());
        seen[thread].push_back(number);
    }
    for (unsigned t = 0; t < counts.size(); ++t) {
        std::vector<unsigned> expected(counts[t]);
        for (unsigned i = 0; i < counts[t]; ++i)
            expected[i] = i;
        EXPECT_EQ(seen[t], expected) << "thread " << t;
    }
}

// Threads that each write `lines` lines at once; true when all of them ended
// in time (a writer that waited for real would not).
bool writeFromThreads(CLogging& logger, unsigned threads, unsigned lines)
{
    std::atomic<unsigned> done{0};
    std::vector<std::thread> workers;
    for (unsigned t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (unsigned i = 0; i < lines; ++i) {
                const std::wstring text = L"t" + std::to_wstring(t) + L" n" + std::to_wstring(i);
                EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, text.c_str()), 0u);
            }
            ++done;
        });
    const bool ended = TestSupport::waitUntil([&] { return done.load() == threads; });
    for (auto& worker : workers)
        worker.join();
    return ended;
}

} // namespace

// A holder of the folder's turn that never lets go, made before the logger
// starts (its start reads the folder's ini, in turn) while four threads log:
// the logger waits once, for the bounded wait, then keeps every line without
// waiting until the back-off has passed; then it waits once more. Nothing is
// written without the turn; once the holder lets go, the next line finds the
// turn free and every kept line is written before it, in order.
TEST_F(SharedLogFolder, HolderThatNeverLetsGoCostsOneWaitPerBackOff)
{
    ASSERT_TRUE(makeFolderOfTenMegabyteFiles());
    HANDLE holder = takeTurn(m_folder);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);

    auto clock = std::make_shared<CountingClock>();
    ScratchFileLogger logger(m_scratch.path());
    logger.SetFolderLockTiming(kWait, kBackOff, clock);
    ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
    EXPECT_EQ(logger.GetMaxSize(), 0xA00000u);
    EXPECT_EQ(clock->Paused(), kWait) << "the start waits once";

    ASSERT_TRUE(writeFromThreads(logger, 4, 25));
    EXPECT_EQ(clock->Paused(), kWait) << "no line waits during the back-off";
    EXPECT_FALSE(exists(logPath(0))) << "nothing is written without the turn";

    clock->Advance(kBackOff);
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"t0 n25"), 0u);
    EXPECT_EQ(clock->Paused(), 2 * kWait);
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"t0 n26"), 0u);
    EXPECT_EQ(clock->Paused(), 2 * kWait);
    EXPECT_FALSE(turnIsFree(m_folder)) << "the writer ended a turn it never had";
    CloseHandle(holder);
    EXPECT_TRUE(turnIsFree(m_folder));

    // The next line finds the turn free and writes the kept ones first.
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"t0 n27"), 0u);
    EXPECT_EQ(clock->Paused(), 2 * kWait);
    expectEveryLineWhole(logPath(0), {28, 25, 25, 25});
}

// While one thread waits for a turn that a holder never lets go, the other
// threads of the process do not wait behind it: their lines are kept, and
// written with the waiter's, in order, once the holder has let go.
TEST_F(SharedLogFolder, OtherThreadsDoNotWaitBehindTheThreadThatWaits)
{
    ASSERT_TRUE(Halvex::CreateDirectoryPath(m_folder.c_str()) == ERROR_SUCCESS);
    HANDLE holder = takeTurn(m_folder);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    auto clock = std::make_shared<CountingClock>();
    ScratchFileLogger logger(m_scratch.path());
    logger.SetFolderLockTiming(kWait, kBackOff, clock);
    ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);

    std::atomic<bool> othersDone{false};
    std::atomic<bool> othersDoneWhileWaiting{false};
    bool firstPause = true;
    clock->m_onPause = [&] {
        if (!firstPause)
            return;
        firstPause = false;
        othersDoneWhileWaiting = TestSupport::waitUntil([&] { return othersDone.load(); });
    };
    std::thread waiter([&] { EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"t0 n0"), 0u); });
    ASSERT_TRUE(TestSupport::waitUntil([&] { return clock->Paused() > 0; }));
    std::vector<std::thread> others;
    for (unsigned t = 1; t < 4; ++t)
        others.emplace_back([&, t] {
            for (unsigned i = 0; i < 25; ++i) {
                const std::wstring text = L"t" + std::to_wstring(t) + L" n" + std::to_wstring(i);
                EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, text.c_str()), 0u);
            }
        });
    for (auto& other : others)
        other.join();
    othersDone = true;
    waiter.join();
    clock->m_onPause = nullptr;
    EXPECT_TRUE(othersDoneWhileWaiting) << "the other threads waited behind the waiter";
    EXPECT_EQ(clock->Paused(), kWait);
    EXPECT_FALSE(exists(logPath(0))) << "nothing is written without the turn";

    CloseHandle(holder);
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"t0 n1"), 0u);
    EXPECT_EQ(clock->Paused(), kWait) << "the next line takes the free turn without waiting";
    const std::vector<std::wstring> lines = TestSupport::LogFile::rawLines(logPath(0));
    ASSERT_EQ(lines.size(), 77u);
    EXPECT_NE(lines[0].find(L"$ t0 n0"), std::wstring::npos) << TestSupport::narrow(lines[0]);
    EXPECT_NE(lines[76].find(L"$ t0 n1"), std::wstring::npos) << TestSupport::narrow(lines[76]);
    expectEveryLineWhole(logPath(0), {2, 25, 25, 25});
}

// What a logger keeps while another writer holds the turn is bounded: the
// lines beyond are dropped, and once the turn is had, the kept lines are
// followed by one that says how many were dropped, then by the next line. A
// logger that ends while the holder still holds makes one bounded wait.
TEST_F(SharedLogFolder, LinesBeyondWhatALoggerKeepsAreCountedInTheNextLineWritten)
{
    // Its start waits the one wait of the back-off.
    ASSERT_TRUE(makeFolderOfTenMegabyteFiles());
    HANDLE holder = takeTurn(m_folder);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    auto clock = std::make_shared<CountingClock>();
    ScratchFileLogger logger(m_scratch.path());
    logger.SetFolderLockTiming(kWait, kBackOff, clock);
    ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
    const std::wstring padding(1000, L'x');
    const unsigned total = static_cast<unsigned>(CLogging::kMostKeptBytes / (padding.size() * sizeof(wchar_t))) + 50;
    unsigned refused = 0;
    for (unsigned i = 0; i < total; ++i) {
        const std::wstring text = L"t0 n" + std::to_wstring(i) + L" " + padding;
        if (logger.Write(L"Src", L"f", 1, 3, text.c_str()) != ERROR_SUCCESS)
            ++refused;
    }
    EXPECT_EQ(clock->Paused(), kWait);
    EXPECT_GE(refused, 50u);
    CloseHandle(holder);
    ASSERT_EQ(logger.Write(L"Src", L"f", 1, 3, L"after"), 0u);

    const std::vector<std::wstring> lines = TestSupport::LogFile::rawLines(logPath(0));
    ASSERT_EQ(lines.size(), total - refused + 2);
    for (unsigned i = 0; i < total - refused; ++i)
        ASSERT_NE(lines[i].find(L"$ t0 n" + std::to_wstring(i) + L" x"), std::wstring::npos) << i;
    EXPECT_NE(lines[total - refused].find(L"(Warning)$"), std::wstring::npos);
    EXPECT_NE(lines[total - refused].find(L" " + std::to_wstring(refused) +
                                          L" lines were dropped while another writer held the log folder."),
              std::wstring::npos)
        << TestSupport::narrow(lines[total - refused]);
    EXPECT_NE(lines.back().find(L"$ after"), std::wstring::npos);

    holder = takeTurn(m_folder);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    {
        ScratchFileLogger ending(m_scratch.path());
        auto endClock = std::make_shared<CountingClock>();
        ending.SetFolderLockTiming(kWait, kBackOff, endClock);
        ASSERT_EQ(ending.Init(L"grp", nullptr, L"hst", nullptr), 0u);
        clock = endClock;
        ASSERT_EQ(ending.Write(L"Src", L"f", 1, 3, L"never written"), 0u);
        EXPECT_EQ(endClock->Paused(), kWait) << "the start's wait, then the back-off";
    }
    EXPECT_EQ(clock->Paused(), 2 * kWait) << "the end waits once more";
    EXPECT_EQ(TestSupport::LogFile::readText(logPath(0)).find(L"never written"), std::wstring::npos);
    CloseHandle(holder);
}

// Eight writer processes beside a holder that never lets go: whatever the
// others do while they wait, each process pauses for turns one bounded wait
// in the back-off period, and its end makes one more bounded attempt.
TEST_F(SharedLogFolder, HolderThatNeverLetsGoCostsEveryWriterProcessOneWait)
{
    const unsigned kWriterWait = 200;
    ASSERT_TRUE(Halvex::CreateDirectoryPath(m_folder.c_str()) == ERROR_SUCCESS);
    HANDLE holder = takeTurn(m_folder);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::vector<Share> shares;
    for (unsigned p = 0; p < 8; ++p) {
        shares.push_back({m_scratch.path(), p, 4, 20, 10});
        shares.back().waitMilliseconds = kWriterWait;
    }
    const auto outcomes = LogWriterProcess::runTogether(shares);
    CloseHandle(holder);
    ASSERT_EQ(outcomes.size(), shares.size());
    for (size_t p = 0; p < outcomes.size(); ++p) {
        EXPECT_TRUE(outcomes[p].finished) << p;
        EXPECT_EQ(outcomes[p].exitCode, 0u) << outcomes[p].output;
        unsigned long long paused = 0;
        ASSERT_TRUE(LogWriterProcess::reported(outcomes[p].output, "paused", paused)) << outcomes[p].output;
        // A wait's last pause may end up to a pause's length after its bound.
        EXPECT_LE(paused, 2 * (kWriterWait + 2)) << "writer " << p;
    }
    EXPECT_FALSE(exists(logPath(0))) << "nothing is written without the turn";
}

// A holder that lets go while the writer waits: the line is written in turn,
// and nothing backs off, so the next holder is waited for again.
TEST_F(SharedLogFolder, BriefHolderIsWaitedFor)
{
    auto clock = std::make_shared<CountingClock>();
    ScratchFileLogger logger(m_scratch.path());
    logger.SetFolderLockTiming(kWait, kBackOff, clock);
    ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
    ASSERT_EQ(logger.Write(L"Src", L"f", 1, 3, L"makes the folder"), 0u);

    HANDLE holder = takeTurn(m_folder);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    bool heldWhileWaiting = false;
    clock->m_onPause = [&] {
        // The writer must not write while the holder has its turn.
        heldWhileWaiting = TestSupport::LogFile::readText(logPath(0)).find(L" in turn") == std::wstring::npos;
        CloseHandle(holder);
        holder = INVALID_HANDLE_VALUE;
        clock->m_onPause = nullptr;
    };
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"in turn"), 0u);
    EXPECT_TRUE(heldWhileWaiting);
    EXPECT_GT(clock->Paused(), 0u);
    EXPECT_LT(clock->Paused(), kWait);
    EXPECT_TRUE(turnIsFree(m_folder)) << "the writer's turn ended with its line";

    const uint64_t before = clock->Paused();
    holder = takeTurn(m_folder);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"waited for"), 0u);
    EXPECT_EQ(clock->Paused() - before, kWait);
    CloseHandle(holder);
    // Kept until the next turn.
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"after the holder let go"), 0u);
    const std::wstring text = TestSupport::LogFile::readText(logPath(0));
    EXPECT_NE(text.find(L" in turn\r\n"), std::wstring::npos);
    const size_t waited = text.find(L" waited for\r\n");
    EXPECT_NE(waited, std::wstring::npos);
    EXPECT_LT(waited, text.find(L" after the holder let go\r\n"));
}

// A turn that keeps changing hands is busy, not held up (a loaded machine
// makes every holder slow): the writer keeps waiting while it moves, one wait
// after its last change of hands, and no longer than ten waits in all; then
// it backs off as from a holder that never lets go.
TEST_F(SharedLogFolder, TurnThatKeepsChangingHandsIsWaitedForWithinABound)
{
    struct Case {
        const char* name;
        unsigned handovers; // one every 100 ms of waiting
        uint64_t leastPaused;
        uint64_t mostPaused;
    } cases[] = {
        {"five handovers, then held", 5, 500 + kWait, 600 + kWait},
        {"handed over for ever", 1000, 9 * kWait, 10 * kWait},
    };
    for (const Case& c : cases) {
        auto clock = std::make_shared<CountingClock>();
        ScratchFileLogger logger(m_scratch.path());
        logger.SetFolderLockTiming(kWait, kBackOff, clock);
        ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u) << c.name;
        ASSERT_EQ(logger.Write(L"Src", L"f", 1, 3, L"makes the folder"), 0u) << c.name;

        HANDLE holder = takeTurn(m_folder);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE) << c.name;
        unsigned handedOver = 0;
        clock->m_onPause = [&] {
            if (handedOver == c.handovers || clock->Paused() < 100 * (handedOver + 1))
                return;
            // The next holder's file is made in another clock tick of the file system.
            CloseHandle(holder);
            holder = takeTurn(m_folder);
            ++handedOver;
            FILETIME made = {handedOver, 0x01D00000};
            SetFileTime(holder, &made, nullptr, &made);
        };
        EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"while the turn moves"), 0u) << c.name;
        EXPECT_GE(clock->Paused(), c.leastPaused) << c.name;
        EXPECT_LE(clock->Paused(), c.mostPaused) << c.name;
        const uint64_t before = clock->Paused();
        EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"and the next"), 0u) << c.name;
        EXPECT_EQ(clock->Paused(), before) << c.name << ": backs off";
        clock->m_onPause = nullptr;
        CloseHandle(holder);
        ASSERT_TRUE(DeleteFileW(logPath(0).c_str())) << c.name;
    }
}

// Someone put something at the name of the folder's lock file (or of the
// reservation an earlier version made) before the logger started. Only who
// may create files in the folder can; under Wine everybody may, so this shows
// what such a squatter costs: the one bounded wait while it keeps a file open
// that cannot be moved, nothing otherwise; and no line is lost.
TEST_F(SharedLogFolder, SquatterOfTheLockFileCostsAtMostOneWait)
{
    enum class Kind { Open, ClosedFile, ReadOnlyFile, Folder };
    struct Case {
        const char* name;
        const wchar_t* file;
        Kind kind;
        DWORD sharing;
        uint64_t mostPaused;
    } cases[] = {
        {"keeps it open", CLogFolderLock::kFileName, Kind::Open, 0, kWait},
        {"left it behind, closed", CLogFolderLock::kFileName, Kind::ClosedFile, 0, 0},
        {"keeps it open to read, sharing everything", CLogFolderLock::kFileName, Kind::Open,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0},
        {"left a read-only file", CLogFolderLock::kFileName, Kind::ReadOnlyFile, 0, 0},
        {"made a folder with something in it", CLogFolderLock::kFileName, Kind::Folder, 0, 0},
        {"keeps the reservation open", L"log.next", Kind::Open, 0, 0},
        {"left a read-only reservation", L"log.next", Kind::ReadOnlyFile, 0, 0},
        {"made a folder as the reservation", L"log.next", Kind::Folder, 0, 0},
    };
    ASSERT_TRUE(Halvex::CreateDirectoryPath(m_folder.c_str()) == ERROR_SUCCESS);
    for (const Case& c : cases) {
        const std::wstring squatted = m_folder + L"\\" + c.file;
        HANDLE squatter = INVALID_HANDLE_VALUE;
        switch (c.kind) {
        case Kind::Open:
            squatter = takeTurn(m_folder, c.sharing, c.sharing == 0 ? FILE_FLAG_DELETE_ON_CLOSE : 0, c.file);
            ASSERT_NE(squatter, INVALID_HANDLE_VALUE) << c.name;
            break;
        case Kind::ClosedFile:
            CloseHandle(takeTurn(m_folder, 0, 0, c.file));
            break;
        case Kind::ReadOnlyFile:
            ASSERT_TRUE(makeObstacle(squatted, Obstacle::ReadOnlyFile)) << c.name;
            break;
        case Kind::Folder:
            ASSERT_TRUE(makeObstacle(squatted, Obstacle::Folder)) << c.name;
            break;
        }
        ASSERT_TRUE(exists(squatted)) << c.name;

        auto clock = std::make_shared<CountingClock>();
        auto logger = std::make_unique<ScratchFileLogger>(m_scratch.path());
        logger->SetFolderLockTiming(kWait, kBackOff, clock);
        ASSERT_EQ(logger->Init(L"grp", nullptr, L"hst", nullptr), 0u) << c.name;
        const std::wstring line = L"squatter " + std::wstring(c.name, c.name + strlen(c.name));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(logger->Write(L"Src", L"f", 1, 3, line.c_str()), 0u) << c.name;
        EXPECT_LE(clock->Paused(), c.mostPaused) << c.name;
        if (squatter != INVALID_HANDLE_VALUE)
            CloseHandle(squatter);
        logger.reset();
        const std::wstring text = TestSupport::LogFile::readText(logPath(0));
        size_t count = 0;
        for (size_t at = text.find(line + L"\r\n"); at != std::wstring::npos; at = text.find(line + L"\r\n", at + 1))
            ++count;
        EXPECT_EQ(count, 3u) << c.name;
        EXPECT_TRUE(turnIsFree(m_folder)) << c.name;
        ASSERT_TRUE(DeleteFileW(logPath(0).c_str())) << c.name;
        SetFileAttributesW(squatted.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (exists(squatted)) {
            ASSERT_TRUE(Halvex::RemoveDirectoryTree(squatted.c_str()) || DeleteFileW(squatted.c_str())) << c.name;
        }
    }
}

namespace {

// The "Global\\" mutex under which the writers of a folder once took turns:
// anyone could make it, as its name follows from the folder's path alone.
std::wstring formerMutexName(const std::wstring& folder)
{
    std::wstring path(32768, L'\0');
    path.resize(GetFullPathNameW(folder.c_str(), static_cast<DWORD>(path.size()), &path[0], nullptr));
    const int length = static_cast<int>(path.size());
    LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, path.c_str(), length, &path[0], length);
    uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : path) {
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ull;
    }
    wchar_t digits[17];
    swprintf(digits, 17, L"%016llX", static_cast<unsigned long long>(hash));
    return L"Global\\Corvane.CVLOGS." + std::wstring(digits);
}

} // namespace

// Someone made that mutex before the logger started and keeps it owned: the
// folder's turns no longer go through it, so neither the start nor any of
// four threads' lines waits for it.
TEST_F(SharedLogFolder, SquatterOfTheFormerMutexNameHasNoEffect)
{
    ASSERT_TRUE(makeFolderOfTenMegabyteFiles());
    HANDLE owned = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread squatter([&] {
        HANDLE mutex = CreateMutexW(nullptr, TRUE, formerMutexName(m_folder).c_str());
        if (mutex != nullptr)
            SetEvent(owned);
        WaitForSingleObject(release, static_cast<DWORD>(TestSupport::kGenerousWait.count()));
        if (mutex != nullptr) {
            ReleaseMutex(mutex);
            CloseHandle(mutex);
        }
    });
    const bool squatting = WaitForSingleObject(owned, static_cast<DWORD>(TestSupport::kGenerousWait.count())) == WAIT_OBJECT_0;

    auto clock = std::make_shared<CountingClock>();
    ScratchFileLogger logger(m_scratch.path());
    logger.SetFolderLockTiming(kWait, kBackOff, clock);
    EXPECT_TRUE(squatting);
    if (squatting) {
        EXPECT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
        EXPECT_EQ(logger.GetMaxSize(), 0xA00000u);
        EXPECT_TRUE(writeFromThreads(logger, 4, 25));
    }
    SetEvent(release);
    squatter.join();
    CloseHandle(owned);
    CloseHandle(release);
    ASSERT_TRUE(squatting);
    EXPECT_EQ(clock->Paused(), 0u);
    expectEveryLineWhole(logPath(0), {25, 25, 25, 25});
    EXPECT_TRUE(turnIsFree(m_folder));
}

// A writer process that ended in the middle of a line, its turn still taken:
// the system ends the turn with the process, the next writer does not wait
// for it, and its line starts on a line of its own.
TEST_F(SharedLogFolder, OwnerThatEndedMidLineLeavesAFreeTurnAndAWholeNextLine)
{
    Share cut{m_scratch.path(), 0, 1, 2, 4};
    cut.endMidLine = true;
    const auto outcomes = LogWriterProcess::runTogether({cut});
    ASSERT_EQ(outcomes.size(), 1u);
    ASSERT_TRUE(outcomes[0].finished);
    EXPECT_EQ(outcomes[0].exitCode, LogWriterProcess::kEndedMidLine) << outcomes[0].output;

    auto clock = std::make_shared<CountingClock>();
    ScratchFileLogger logger(m_scratch.path());
    logger.SetFolderLockTiming(kWait, kBackOff, clock);
    ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, LogWriterProcess::lineText(1, 0, 0, 4).c_str()), 0u);
    EXPECT_EQ(clock->Paused(), 0u);
    EXPECT_TRUE(turnIsFree(m_folder));

    const std::vector<std::wstring> lines = TestSupport::LogFile::rawLines(logPath(0));
    ASSERT_EQ(lines.size(), 4u);
    for (size_t i : {0u, 1u, 3u}) {
        unsigned writer = 0, thread = 0, number = 0;
        const size_t text = lines[i].rfind(L"$ ");
        ASSERT_NE(text, std::wstring::npos) << i;
        EXPECT_TRUE(LogWriterProcess::parseLineText(lines[i].substr(text + 2), 4, writer, thread, number)) << i;
        EXPECT_EQ(writer, i == 3 ? 1u : 0u) << i;
    }
    EXPECT_EQ(lines[2].find(L"half a li"), 0u) << TestSupport::narrow(lines[2]);
}

// The writer half of the tests: runs only as a process started by them.
TEST(FileLoggerWriterProcess, WritesItsShare)
{
    if (!LogWriterProcess::isWriterProcess())
        GTEST_SKIP() << "runs only as a writer process of the file logger's tests";
    LogWriterProcess::writeShare();
}

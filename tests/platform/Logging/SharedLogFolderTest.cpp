// Several processes, each with several threads, writing into one log folder.
#include "Ini/CObfuscatedIniReader.h"
#include "Logging/CLogFolderLock.h"
#include "Logging/CLogging.h"

#include "LogFile.h"
#include "LogWriterProcess.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace ETWLogging;
using LogWriterProcess::ScratchFileLogger;
using LogWriterProcess::Share;

namespace {

struct SharedFolderCase {
    const char* name;
    unsigned processes;
    unsigned threads;
    unsigned lines;   // per thread
    unsigned padding; // letters after the line's number
    uint32_t maxSize;
    uint32_t maxEntries;
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

std::vector<std::wstring> rawLines(const std::wstring& path)
{
    const std::wstring text = TestSupport::LogFile::readText(path);
    std::vector<std::wstring> lines;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(L"\r\n", begin);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(begin)); // a line without its end: torn
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
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
    for (unsigned p = 0; p < c.processes; ++p)
        shares.push_back({m_scratch.path(), p, c.threads, c.lines, c.padding});
    const auto outcomes = LogWriterProcess::runTogether(shares);
    ASSERT_EQ(outcomes.size(), shares.size());
    for (size_t p = 0; p < outcomes.size(); ++p) {
        EXPECT_TRUE(outcomes[p].finished) << p;
        EXPECT_EQ(outcomes[p].exitCode, 0u) << outcomes[p].output;
    }

    // writer, thread -> the numbers seen, in file order
    std::map<std::pair<unsigned, unsigned>, std::vector<unsigned>> seen;
    size_t torn = 0, lines = 0;
    for (unsigned k = 0; k < c.maxEntries; ++k) {
        const std::vector<std::wstring> fileLines = rawLines(logPath(k));
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
            EXPECT_EQ(seen[std::make_pair(p, t)], expected) << "writer " << p << " thread " << t;
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
                      SharedFolderCase{"TwoProcessesRotating", 2, 1, 1000, 450, 0x40000, 10}),
    [](const ::testing::TestParamInfo<SharedFolderCase>& info) { return std::string(info.param.name); });

TEST(LogFolderLockTest, NameFollowsTheFolderNotItsSpelling)
{
    const std::wstring name = CLogFolderLock::NameFor(L"C:\\ProgramData\\Corvane\\CVLOGS\\grp\\Sentrel");
    EXPECT_EQ(name.compare(0, 7, L"Global\\"), 0);
    EXPECT_EQ(name.find(L'\\', 7), std::wstring::npos) << "no backslash after the namespace";
    EXPECT_LT(name.size(), static_cast<size_t>(MAX_PATH));
    for (const wchar_t* same : {L"c:\\programdata\\corvane\\cvlogs\\GRP\\sentrel",
                                L"C:/ProgramData/Corvane/CVLOGS/grp/Sentrel/",
                                L"C:\\ProgramData\\Corvane\\CVLOGS\\other\\..\\grp\\.\\Sentrel\\",
                                L"\\\\?\\C:\\ProgramData\\Corvane\\CVLOGS\\grp\\Sentrel"})
        EXPECT_EQ(CLogFolderLock::NameFor(same), name) << TestSupport::narrow(same);
    for (const wchar_t* other : {L"C:\\ProgramData\\Corvane\\CVLOGS\\grp\\Quellat",
                                 L"C:\\ProgramData\\Corvane\\CVLOGS\\Sentrel",
                                 L"D:\\ProgramData\\Corvane\\CVLOGS\\grp\\Sentrel"})
        EXPECT_NE(CLogFolderLock::NameFor(other), name) << TestSupport::narrow(other);
    const std::wstring deep = L"C:\\" + std::wstring(2000, L'd');
    EXPECT_EQ(CLogFolderLock::NameFor(deep).size(), name.size());
}

namespace {

// Takes the folder's mutex on a thread of its own, as another process would.
class LockHolder {
public:
    explicit LockHolder(const std::wstring& folder, bool release = true)
    {
        HANDLE taken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this, folder, taken, release] {
            HANDLE mutex = CreateMutexW(nullptr, FALSE, CLogFolderLock::NameFor(folder).c_str());
            WaitForSingleObject(mutex, INFINITE);
            SetEvent(taken);
            if (release) {
                WaitForSingleObject(m_release, 60000);
                ReleaseMutex(mutex);
            }
            CloseHandle(mutex); // without a release first: abandoned when the thread ends
        });
        m_taken = WaitForSingleObject(taken, 60000) == WAIT_OBJECT_0;
        CloseHandle(taken);
    }
    ~LockHolder()
    {
        SetEvent(m_release);
        m_thread.join();
        CloseHandle(m_release);
    }
    bool taken() const { return m_taken; }

private:
    HANDLE m_release = nullptr;
    std::thread m_thread;
    bool m_taken = false;
};

// True when a thread of this process can take the folder's mutex at once.
bool lockIsFree(const std::wstring& folder)
{
    bool isFree = false;
    std::thread probe([&] {
        HANDLE mutex = CreateMutexW(nullptr, FALSE, CLogFolderLock::NameFor(folder).c_str());
        const DWORD result = WaitForSingleObject(mutex, 0);
        isFree = result == WAIT_OBJECT_0;
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED)
            ReleaseMutex(mutex);
        CloseHandle(mutex);
    });
    probe.join();
    return isFree;
}

} // namespace

TEST_F(SharedLogFolder, WriterThatCannotGetTheLockStillWritesItsLine)
{
    ScratchFileLogger logger(m_scratch.path());
    ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
    logger.SetFolderLockWait(100);
    {
        LockHolder holder(m_folder);
        ASSERT_TRUE(holder.taken());
        EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"while held"), 0u);
    }
    EXPECT_NE(TestSupport::LogFile::readText(logPath(0)).find(L" while held\r\n"), std::wstring::npos);
    EXPECT_TRUE(lockIsFree(m_folder)) << "the writer released what it did not take";
}

TEST_F(SharedLogFolder, LockLeftByAnOwnerThatEndedIsTakenAndReleased)
{
    ScratchFileLogger logger(m_scratch.path());
    ASSERT_EQ(logger.Init(L"grp", nullptr, L"hst", nullptr), 0u);
    {
        LockHolder holder(m_folder, false);
        ASSERT_TRUE(holder.taken());
    }
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"after the owner ended"), 0u);
    EXPECT_TRUE(lockIsFree(m_folder));
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 3, L"and again"), 0u);
    const std::wstring text = TestSupport::LogFile::readText(logPath(0));
    EXPECT_NE(text.find(L" after the owner ended\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L" and again\r\n"), std::wstring::npos);
    EXPECT_TRUE(lockIsFree(m_folder));
}

// The writer half of the tests: runs only as a process started by them.
TEST(FileLoggerWriterProcess, WritesItsShare)
{
    if (!LogWriterProcess::isWriterProcess())
        GTEST_SKIP() << "runs only as a writer process of the file logger's tests";
    LogWriterProcess::writeShare();
}

#include "FileSystem/FileSystem.h"
#include "Ini/CObfuscatedIniReader.h"
#include "Logging/CDefaultLogBuilder.h"
#include "Logging/CLogging.h"

#include "LogFile.h"
#include "LogWriterProcess.h"
#include "ScratchFolder.h"
#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cwchar>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace ETWLogging;
using TestSupport::LogFile;
using LogWriterProcess::ScratchFileLogger;
using TestSupport::ScratchFolder;

namespace {

std::wstring programStem()
{
    return LogFile::programStem();
}

std::string readBytes(const std::wstring& path)
{
    return ScratchFolder::read(path);
}

uint64_t fileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return data.nFileSizeLow;
}

bool exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void setIni(const std::wstring& path, const std::wstring& key, int value)
{
    Halvex::CObfuscatedIniReader ini;
    ini.Load(path);
    ASSERT_TRUE(ini.SetInt(L"Config", key, value)) << TestSupport::narrow(path);
}

bool getIni(const std::wstring& path, const std::wstring& key, int& value)
{
    Halvex::CObfuscatedIniReader ini;
    return ini.Load(path) && ini.GetInt(L"Config", key, value);
}

class FileLoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_base = m_scratch.path() + L"\\Corvane\\CVLOGS\\";
        m_folder = m_base + L"grp\\" + programStem();
    }
    std::unique_ptr<ScratchFileLogger> make(const wchar_t* group = L"grp", HMODULE module = nullptr,
                                            const wchar_t* host = L"hst")
    {
        auto logger = std::make_unique<ScratchFileLogger>(m_scratch.path());
        EXPECT_EQ(logger->Init(group, module, host, nullptr), 0u);
        return logger;
    }
    // The ini files must be in place before the logger starts.
    void prepareFolder() { ASSERT_EQ(Halvex::CreateDirectoryPath(m_folder.c_str()), 0u); }
    std::wstring logPath(unsigned index) const
    {
        wchar_t suffix[16];
        swprintf(suffix, 16, L"%03u.log", index);
        return m_folder + L"\\" + programStem() + L"_hst" + suffix;
    }

    ScratchFolder m_scratch;
    std::wstring m_base;
    std::wstring m_folder;
};

SYSTEMTIME at(WORD hour, WORD minute = 5, WORD second = 9)
{
    SYSTEMTIME time = {};
    time.wYear = 2026;
    time.wMonth = 3;
    time.wDay = 7;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    return time;
}

} // namespace

TEST_F(FileLoggerTest, PathsFollowGroupModuleAndHost)
{
    auto logger = make();
    EXPECT_EQ(logger->LogFolder(), m_folder);
    EXPECT_EQ(logger->ModuleIniPath(), m_folder + L"\\log.ini");
    EXPECT_EQ(logger->GlobalIniPath(), m_base + L"log.ini");
    EXPECT_EQ(logger->LogFilePath(0), logPath(0));
    EXPECT_EQ(logger->LogFilePath(12), logPath(12));

    // The module handle names the folder and the files; no group, no host.
    ScratchFileLogger plain(m_scratch.path());
    ASSERT_EQ(plain.Init(nullptr, GetModuleHandleW(L"kernel32.dll"), nullptr, nullptr), 0u);
    EXPECT_EQ(plain.LogFolder(), m_base + L"kernel32");
    EXPECT_EQ(plain.LogFilePath(0), m_base + L"kernel32\\kernel32000.log");
}

TEST_F(FileLoggerTest, InitRefusesEmptyNamesAndTwice)
{
    ScratchFileLogger logger(m_scratch.path());
    EXPECT_EQ(logger.Init(L"", nullptr, nullptr, nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(logger.Init(L"g", nullptr, L"", nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(logger.Uninit(), LOG_STATUS_NOT_INITIALIZED);
    EXPECT_EQ(logger.Init(L"g", nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(logger.Init(L"g", nullptr, nullptr, nullptr), LOG_STATUS_ALREADY_INITIALIZED);
    EXPECT_EQ(logger.Uninit(), 0u);

    CLoggingIf* out = &logger;
    EXPECT_FALSE(CreateFileLogger(nullptr, L"g", nullptr, nullptr, &out));
    out = nullptr;
    EXPECT_FALSE(CreateFileLogger(nullptr, L"", nullptr, nullptr, &out));
    EXPECT_FALSE(CreateFileLogger(nullptr, L"g", nullptr, L"", &out));
    EXPECT_EQ(out, nullptr);
}

TEST_F(FileLoggerTest, SettersClamp)
{
    ScratchFileLogger logger(m_scratch.path());
    struct Case {
        uint32_t in, entries, size, severity;
    } cases[] = {
        {0, 2, 0x40000, 1},          {1, 2, 0x40000, 1},        {6, 6, 0x40000, 6},
        {7, 7, 0x40000, 6},          {100, 100, 0x40000, 6},    {101, 100, 0x40000, 6},
        {0x50000, 100, 0x50000, 6},  {0xA00001, 100, 0xA00000, 6},
    };
    for (const Case& c : cases) {
        logger.SetMaxEntries(c.in);
        logger.SetMaxSize(c.in);
        logger.SetSeverity(c.in);
        EXPECT_EQ(logger.GetMaxEntries(), c.entries) << c.in;
        EXPECT_EQ(logger.GetMaxSize(), c.size) << c.in;
        EXPECT_EQ(logger.GetSeverity(), c.severity) << c.in;
    }
}

TEST_F(FileLoggerTest, TimestampUsesTheTwelveHourClock)
{
    struct Case {
        WORD hour;
        const wchar_t* expected;
    } cases[] = {
        {0, L"03/07/2026 12:05:09 AM$"},  {1, L"03/07/2026 01:05:09 AM$"}, {11, L"03/07/2026 11:05:09 AM$"},
        {12, L"03/07/2026 12:05:09 PM$"}, {13, L"03/07/2026 01:05:09 PM$"}, {23, L"03/07/2026 11:05:09 PM$"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CLogging::FormatTimestamp(at(c.hour)), c.expected) << c.hour;
}

TEST_F(FileLoggerTest, LineLayoutByOptionsAndLevel)
{
    prepareFolder();
    auto logger = make();
    const std::wstring exe = programStem() + L".exe";
    const std::wstring exeField = exe.size() >= 15 ? exe.substr(0, 15) : std::wstring(15 - exe.size(), L' ') + exe;
    std::wstring out;

    // Default options: the executable only.
    ASSERT_EQ(logger->FormatLine(at(14), L"a\\b\\Src", L"Ns::C::f", 12, 4, L"Hello.", out), 0u);
    EXPECT_EQ(out, L"03/07/2026 02:05:09 PM$ -- (Error)$ [" + exeField + L"]$ Hello.\r\n");

    struct Case {
        uint32_t level;
        const wchar_t* name;
    } levels[] = {{1, L"Normal"}, {2, L"Warning"}, {3, L"Information"}, {4, L"Error"}, {5, L"Critical"},
                  {6, L"Information"}};
    for (const Case& c : levels) {
        ASSERT_EQ(logger->FormatLine(at(9), nullptr, nullptr, 0, c.level, L"x", out), 0u);
        EXPECT_NE(out.find(std::wstring(L" -- (") + c.name + L")$ "), std::wstring::npos) << c.level;
    }
    for (uint32_t level : {0u, 7u, 10000u})
        EXPECT_EQ(logger->FormatLine(at(9), nullptr, nullptr, 0, level, L"x", out),
                  static_cast<uint32_t>(ERROR_INVALID_PARAMETER)) << level;
    EXPECT_EQ(logger->FormatLine(at(9), nullptr, nullptr, 0, 3, L"", out), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(logger->FormatLine(at(9), nullptr, nullptr, 0, 3, nullptr, out),
              static_cast<uint32_t>(ERROR_INVALID_PARAMETER));

    // A text ending in a line feed gets no further line end.
    ASSERT_EQ(logger->FormatLine(at(9), nullptr, nullptr, 0, 3, L"done\n", out), 0u);
    EXPECT_EQ(out.substr(out.size() - 6), L" done\n");
}

TEST_F(FileLoggerTest, OptionsFromTheIniShapeTheLine)
{
    prepareFolder();
    setIni(m_folder + L"\\log.ini", L"Options", 0);
    auto bare = make();
    std::wstring out;
    ASSERT_EQ(bare->FormatLine(at(9), L"Src", L"fn", 1, 2, L"Text.", out), 0u);
    EXPECT_EQ(out, L"03/07/2026 09:05:09 AM$ -- (Warning)$ Text.\r\n");
    bare.reset();

    setIni(m_folder + L"\\log.ini", L"Options", 0x3C);
    auto full = make();
    const std::wstring function(45, L'F');
    ASSERT_EQ(full->FormatLine(at(9), L"dir\\AVeryLongSourceFileNameIndeed", function.c_str(), 77, 1, L"T", out),
              0u);
    TestSupport::LogLine parsed;
    ASSERT_TRUE(LogFile::parse(out.substr(0, out.size() - 2), parsed)) << TestSupport::narrow(out);
    EXPECT_EQ(parsed.level, L"Normal");
    EXPECT_EQ(parsed.processId, GetCurrentProcessId());
    EXPECT_EQ(parsed.threadId, GetCurrentThreadId());
    EXPECT_EQ(parsed.file, L"AVeryLongSourceFileN");
    EXPECT_EQ(parsed.line, 77);
    EXPECT_EQ(parsed.function, std::wstring(40, L'F'));
    EXPECT_EQ(parsed.text, L"T");
    ASSERT_EQ(full->FormatLine(at(9), L"Src", L"Ns::f", 1, 1, L"T", out), 0u);
    EXPECT_NE(out.find(L"]$ [                 Src:    1]$ [" + std::wstring(35, L' ') + L"Ns::f()]$ T\r\n"),
              std::wstring::npos);
}

TEST_F(FileLoggerTest, WritesUtf16FilesWithByteOrderMark)
{
    auto logger = make();
    ASSERT_EQ(logger->Write(L"Src", L"Ns::f", 3, 3, L"First line \u00e9."), 0u);
    ASSERT_EQ(logger->Write(L"Src", L"Ns::f", 4, 4, L"Second line."), 0u);
    const std::string bytes = readBytes(logPath(0));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xFE);
    const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    EXPECT_NE(text.find(L")$ [" ), std::wstring::npos);
    EXPECT_NE(text.find(L" First line \u00e9.\r\n"), std::wstring::npos);
    EXPECT_EQ(text.substr(text.size() - 15), L" Second line.\r\n");

    // Refused lines leave the file alone.
    const uint64_t size = fileSize(logPath(0));
    EXPECT_EQ(logger->Write(L"Src", L"f", 1, 7, L"level seven"), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(logger->Write(L"Src", L"f", 1, 3, L""), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(logger->Write(L"Src", L"f", 1, 3, nullptr), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(fileSize(logPath(0)), size);
}

TEST_F(FileLoggerTest, RotatesThroughTheRing)
{
    auto logger = make();
    logger->SetMaxEntries(3);
    logger->SetMaxSize(0);
    const std::wstring text(4000, L'r'); // about 8 KiB a line
    int index = -1;
    for (int i = 0; i < 200 && fileSize(logPath(2)) < 0x40000u; ++i)
        ASSERT_EQ(logger->Write(L"Src", L"f", 1, 3, text.c_str()), 0u);
    for (unsigned k = 0; k < 3; ++k)
        EXPECT_GE(fileSize(logPath(k)), 0x40000u) << k;
    ASSERT_TRUE(getIni(m_folder + L"\\log.ini", L"LastLogIdx", index));
    EXPECT_EQ(index, 2);

    // The oldest file is emptied and reused.
    ASSERT_EQ(logger->Write(L"Src", L"f", 1, 3, L"wrapped"), 0u);
    ASSERT_TRUE(getIni(m_folder + L"\\log.ini", L"LastLogIdx", index));
    EXPECT_EQ(index, 0);
    EXPECT_LT(fileSize(logPath(0)), 200u);
    EXPECT_FALSE(exists(logPath(3)));
}

TEST_F(FileLoggerTest, IndexBeyondTheRingStartsAgainAtZero)
{
    prepareFolder();
    setIni(m_folder + L"\\log.ini", L"LastLogIdx", 7);
    DWORD written = 0;
    HANDLE old = CreateFileW(logPath(0).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    WriteFile(old, "\xFF\xFEo\0l\0d\0", 8, &written, nullptr);
    CloseHandle(old);

    auto logger = make();
    ASSERT_EQ(logger->Write(L"Src", L"f", 1, 3, L"fresh"), 0u);
    int index = -1;
    ASSERT_TRUE(getIni(m_folder + L"\\log.ini", L"LastLogIdx", index));
    EXPECT_EQ(index, 0);
    const std::string bytes = readBytes(logPath(0));
    EXPECT_NE(bytes.find(std::string("f\0r\0e\0s\0h\0", 10)), std::string::npos);
    EXPECT_EQ(bytes.find(std::string("o\0l\0d\0", 6)), std::string::npos);
}

namespace {

// "LastLogIdx" that cannot be written, with file 000 full: the writers go on
// in file 001, and none of them empties it again.
struct UnwritableIndexCase {
    const char* name;
    bool twoProcesses; // one after the other; else one logger of this process
};

void PrintTo(const UnwritableIndexCase& c, std::ostream* os)
{
    *os << c.name;
}

class UnwritableIndexTest : public FileLoggerTest, public ::testing::WithParamInterface<UnwritableIndexCase> {};

} // namespace

TEST_P(UnwritableIndexTest, NoWriterEmptiesTheFileAnotherMovedTo)
{
    const UnwritableIndexCase& c = GetParam();
    prepareFolder();
    // A folder where the module ini should be: it reads as missing and cannot
    // be written. (A read-only ini does not do: every process here runs
    // elevated, and writes it all the same.)
    ASSERT_TRUE(CreateDirectoryW((m_folder + L"\\log.ini").c_str(), nullptr));
    HANDLE full = CreateFileW(logPath(0).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(full, INVALID_HANDLE_VALUE);
    std::string filler(0x40000, 'x');
    DWORD written = 0;
    WriteFile(full, filler.data(), static_cast<DWORD>(filler.size()), &written, nullptr);
    CloseHandle(full);

    const unsigned writers = c.twoProcesses ? 2 : 1;
    const unsigned perWriter = 3;
    if (c.twoProcesses) {
        for (unsigned w = 0; w < writers; ++w) {
            const auto outcomes = LogWriterProcess::runTogether({{m_scratch.path(), w, 1, perWriter, 4}});
            ASSERT_EQ(outcomes.size(), 1u);
            ASSERT_TRUE(outcomes[0].finished);
            ASSERT_EQ(outcomes[0].exitCode, 0u) << outcomes[0].output;
        }
    } else {
        auto logger = make();
        for (unsigned i = 0; i < perWriter; ++i)
            ASSERT_EQ(logger->Write(L"Src", L"f", 1, 3, LogWriterProcess::lineText(0, 0, i, 4).c_str()), 0u);
    }

    const std::wstring text = LogFile::readText(logPath(1));
    for (unsigned w = 0; w < writers; ++w)
        for (unsigned i = 0; i < perWriter; ++i)
            EXPECT_NE(text.find(L" " + LogWriterProcess::lineText(w, 0, i, 4) + L"\r\n"), std::wstring::npos)
                << "writer " << w << " line " << i;
    EXPECT_EQ(fileSize(logPath(0)), 0x40000u);
    EXPECT_FALSE(exists(logPath(2)));
}

INSTANTIATE_TEST_SUITE_P(
    Writers, UnwritableIndexTest,
    ::testing::Values(UnwritableIndexCase{"OneLogger", false}, UnwritableIndexCase{"TwoProcesses", true}),
    [](const ::testing::TestParamInfo<UnwritableIndexCase>& info) { return std::string(info.param.name); });

TEST_F(FileLoggerTest, IniSettingsModuleWinsAndInvalidValuesAreRepaired)
{
    prepareFolder();
    const std::wstring moduleIni = m_folder + L"\\log.ini";
    const std::wstring globalIni = m_base + L"log.ini";
    setIni(moduleIni, L"MaxSize", 1000);
    setIni(globalIni, L"MaxSize", 0x80000);
    setIni(moduleIni, L"MaxEntries", 5);
    setIni(globalIni, L"MaxEntries", 9);
    setIni(globalIni, L"Severity", 0);
    setIni(moduleIni, L"Options", 0x24);
    setIni(globalIni, L"Options", 0x10);

    auto logger = make();
    EXPECT_EQ(logger->GetMaxSize(), 0x80000u);
    EXPECT_EQ(logger->GetMaxEntries(), 5u);
    EXPECT_EQ(logger->GetSeverity(), 0u);
    EXPECT_EQ(logger->GetOptions(), 0x24u);
    for (uint32_t level = 1; level <= 6; ++level)
        EXPECT_TRUE(logger->IsLevelEnabled(level)) << level;
    int repaired = 0;
    ASSERT_TRUE(getIni(moduleIni, L"MaxSize", repaired));
    EXPECT_EQ(repaired, 0x40000);

    // An invalid global value is repaired too and the default used.
    setIni(globalIni, L"Severity", 9);
    setIni(globalIni, L"MaxEntries", 1);
    logger.reset();
    auto second = make();
    EXPECT_EQ(second->GetSeverity(), 3u);
    EXPECT_FALSE(second->IsLevelEnabled(2));
    ASSERT_TRUE(getIni(globalIni, L"Severity", repaired));
    EXPECT_EQ(repaired, 3);
    ASSERT_TRUE(getIni(globalIni, L"MaxEntries", repaired));
    EXPECT_EQ(repaired, 1) << "the module's valid value wins; the global one is not even read";
}

TEST_F(FileLoggerTest, DisabledByIniWritesNothing)
{
    prepareFolder();
    setIni(m_base + L"log.ini", L"Enable", 0);
    auto logger = make();
    EXPECT_FALSE(logger->IsEnabled());
    EXPECT_FALSE(logger->IsLevelEnabled(5));
    EXPECT_EQ(logger->Write(L"Src", L"f", 1, 4, L"hidden"), 0u);
    logger->LogError(L"Src", L"f", 1, L"hidden %d", 2);
    EXPECT_FALSE(exists(logPath(0)));
}

TEST_F(FileLoggerTest, FolderThatCannotBeMadeStopsLoggingForGood)
{
    const std::wstring blocker = m_scratch.write(L"file", "not a folder");
    ScratchFileLogger logger(blocker);
    ASSERT_EQ(logger.Init(L"grp", nullptr, nullptr, nullptr), 0u);
    EXPECT_TRUE(logger.IsLevelEnabled(6));
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 4, L"lost"), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
    for (uint32_t level = 1; level <= 6; ++level)
        EXPECT_FALSE(logger.IsLevelEnabled(level)) << level;
    EXPECT_EQ(logger.Write(L"Src", L"f", 1, 4, L"lost"), static_cast<uint32_t>(ERROR_INVALID_PARAMETER));
}

// A log file, its folder or the group's folder removed while the logger
// runs: the next line makes them again.
TEST_F(FileLoggerTest, RemovedFileOrFolderIsMadeAgainOnTheNextLine)
{
    struct Case {
        const char* name;
        std::wstring removed;
        bool folder;
    } cases[] = {
        {"log file", logPath(0), false},
        {"log folder", m_folder, true},
        {"group folder", m_base + L"grp", true},
    };
    auto logger = make();
    for (const Case& c : cases) {
        ASSERT_EQ(logger->Write(L"Src", L"f", 1, 3, L"before"), 0u) << c.name;
        ASSERT_TRUE(c.folder ? Halvex::RemoveDirectoryTree(c.removed.c_str()) : DeleteFileW(c.removed.c_str()))
            << c.name;
        ASSERT_FALSE(exists(logPath(0))) << c.name;
        EXPECT_EQ(logger->Write(L"Src", L"f", 1, 3, L"after"), 0u) << c.name;
        const std::wstring text = LogFile::readText(logPath(0));
        EXPECT_NE(text.find(L" after\r\n"), std::wstring::npos) << c.name;
        EXPECT_EQ(text.find(L" before\r\n"), std::wstring::npos) << c.name;
        ASSERT_TRUE(DeleteFileW(logPath(0).c_str())) << c.name;
    }
}

namespace {

// Fails as memory running out would, while the paths are built.
class NoMemoryFileLogger : public CLogging {
public:
    uint32_t GetProgramDataFolder(wchar_t*, size_t) override { throw std::bad_alloc(); }
};

} // namespace

TEST_F(FileLoggerTest, FailuresReportTheirStatusCodes)
{
    struct Case {
        const char* name;
        std::function<uint32_t()> run;
        uint32_t expected;
    } cases[] = {
        {"memory runs out in Init", [] { return NoMemoryFileLogger().Init(L"g", nullptr, nullptr, nullptr); },
         ERROR_OUTOFMEMORY},
        {"ProgramData longer than the buffer",
         [] {
             wchar_t buffer[3];
             return CLogging().GetProgramDataFolder(buffer, 3);
         },
         ERROR_INVALID_PARAMETER},
        {"no buffer",
         [] { return CLogging().GetProgramDataFolder(nullptr, 10); },
         ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.run(), c.expected) << c.name;
}

TEST_F(FileLoggerTest, LevelEntryPointsFormatAndCut)
{
    prepareFolder();
    setIni(m_folder + L"\\log.ini", L"Severity", 1);
    auto logger = make();
    logger->LogNormal(L"Src", L"f", 1, L"n %s %hs %lu", L"wide", "narrow", 7ul);
    logger->LogWarning(L"Src", L"f", 1, L"w");
    logger->LogInformation(L"Src", L"f", 1, L"i");
    logger->LogError(L"Src", L"f", 1, L"e");
    logger->LogCritical(L"Src", L"f", 1, L"c");
    logger->Log(6, L"Src", L"f", 1, L"six %s", L"x");
    const std::wstring longText(5000, L'L');
    logger->LogError(L"Src", L"f", 1, L"%s", longText.c_str());

    const std::wstring text = LogFile::readText(logPath(0));
    for (const wchar_t* part : {L"(Normal)$ ", L"(Warning)$ ", L"(Information)$ ", L"(Error)$ ", L"(Critical)$ "})
        EXPECT_NE(text.find(part), std::wstring::npos) << TestSupport::narrow(part);
    EXPECT_NE(text.find(L" n wide narrow 7\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"(Information)$ [") , std::wstring::npos);
    EXPECT_NE(text.find(L"]$ six x\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L" " + std::wstring(kLogMessageCapacity - 1, L'L') + L"\r\n"), std::wstring::npos);
    EXPECT_EQ(text.find(std::wstring(kLogMessageCapacity, L'L')), std::wstring::npos);
}

TEST_F(FileLoggerTest, ThreadsNeitherInterleaveNorLoseLines)
{
    prepareFolder();
    setIni(m_folder + L"\\log.ini", L"Options", 0x3C);
    setIni(m_folder + L"\\log.ini", L"MaxSize", 0xA00000);
    auto logger = make();
    const int threads = 6, perThread = 150;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            const std::wstring pad(200, static_cast<wchar_t>(L'a' + t));
            for (int i = 0; i < perThread; ++i)
                logger->Write(L"Src", L"f", t, 3, (std::to_wstring(i) + L" " + pad).c_str());
        });
    for (auto& w : workers)
        w.join();

    const auto lines = LogFile::readFile(logPath(0));
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    std::vector<int> next(threads, 0);
    for (const auto& line : lines) {
        ASSERT_GE(line.line, 0);
        ASSERT_LT(line.line, threads);
        const std::wstring pad(200, static_cast<wchar_t>(L'a' + line.line));
        EXPECT_EQ(line.text, std::to_wstring(next[line.line]++) + L" " + pad);
    }
}

namespace {

// A log file of raw bytes: the byte-order mark, then `text` as UTF-16, then
// `extra` bytes as they are.
void writeLogFile(const std::wstring& path, const std::wstring& text, const std::string& extra = std::string())
{
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    bytes += extra;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

bool setLastWrite(const std::wstring& path, const FILETIME& time)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool set = SetFileTime(file, nullptr, nullptr, &time) != FALSE;
    CloseHandle(file);
    return set;
}

FILETIME shifted(FILETIME time, int64_t seconds)
{
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    value.QuadPart += static_cast<uint64_t>(seconds * 10000000);
    time.dwLowDateTime = value.LowPart;
    time.dwHighDateTime = value.HighPart;
    return time;
}

} // namespace

// File 000 is full and "LastLogIdx" still names it, so the writer moves on to
// file 001. That file is the oldest of the ring, to be emptied, only when it
// filled up and was last written strictly before file 000; otherwise another
// writer moved to it already and its lines stay.
TEST_F(FileLoggerTest, NextFileIsEmptiedOnlyWhenFullAndStrictlyOlder)
{
    struct Case {
        const char* name;
        int64_t nextWrittenAfter; // seconds, relative to the full file's last write
        bool nextFull;
        bool kept;
    } cases[] = {
        {"written within the same clock tick", 0, false, true},
        {"written later", 1, false, true},
        {"full, and written within the same clock tick", 0, true, true},
        {"older but not full (the clock was set back)", -3600, false, true},
        {"full and older: the oldest of the ring", -3600, true, false},
    };
    prepareFolder();
    const std::wstring other = L"01/01/2026 01:00:00 AM$ -- (Error)$ another writer's line";
    for (const Case& c : cases) {
        setIni(m_folder + L"\\log.ini", L"LastLogIdx", 0);
        writeLogFile(logPath(0), std::wstring(0x40000 / 2, L'x'));
        std::wstring nextText = other + L"\r\n";
        if (c.nextFull)
            nextText += std::wstring(0x40000 / 2, L'y') + L"\r\n";
        writeLogFile(logPath(1), nextText);
        WIN32_FILE_ATTRIBUTE_DATA full;
        ASSERT_TRUE(GetFileAttributesExW(logPath(0).c_str(), GetFileExInfoStandard, &full)) << c.name;
        ASSERT_TRUE(setLastWrite(logPath(1), shifted(full.ftLastWriteTime, c.nextWrittenAfter))) << c.name;

        auto logger = make();
        ASSERT_EQ(logger->Write(L"Src", L"f", 1, 3, L"mine"), 0u) << c.name;
        const std::wstring text = LogFile::readText(logPath(1));
        EXPECT_EQ(text.find(other + L"\r\n") != std::wstring::npos, c.kept) << c.name;
        EXPECT_NE(text.find(L" mine\r\n"), std::wstring::npos) << c.name;
        int index = -1;
        EXPECT_TRUE(getIni(m_folder + L"\\log.ini", L"LastLogIdx", index)) << c.name;
        EXPECT_EQ(index, 1) << c.name;
    }
}

// The last line of the file was cut short (its writer ended half-way): the
// next line starts on a line of its own, and the cut line stays as it was.
TEST_F(FileLoggerTest, LineAfterACutLineStartsOnALineOfItsOwn)
{
    struct Case {
        const char* name;
        std::wstring text;
        std::string extra; // a byte of a character that was cut in two
        std::wstring kept; // the cut line as it reads afterwards
    } cases[] = {
        {"cut within the text", L"whole line\r\nhalf a li", "", L"half a li"},
        {"cut within a character", L"whole line\r\nhalf a li", "n", L"half a lin"},
        {"cut after the CR", L"whole line\r\nhalf a line\r", "", L"half a line\r"},
    };
    prepareFolder();
    setIni(m_folder + L"\\log.ini", L"Options", 0x3C);
    for (const Case& c : cases) {
        writeLogFile(logPath(0), c.text, c.extra);
        auto logger = make();
        ASSERT_EQ(logger->Write(L"Src", L"f", 7, 3, L"next line"), 0u) << c.name;
        ASSERT_EQ(logger->Write(L"Src", L"f", 8, 3, L"and one more"), 0u) << c.name;
        const std::vector<std::wstring> lines = LogFile::rawLines(logPath(0));
        ASSERT_EQ(lines.size(), 4u) << c.name;
        EXPECT_EQ(lines[0], L"whole line") << c.name;
        EXPECT_EQ(lines[1], c.kept) << c.name;
        TestSupport::LogLine parsed;
        ASSERT_TRUE(LogFile::parse(lines[2], parsed)) << c.name << ": " << TestSupport::narrow(lines[2]);
        EXPECT_EQ(parsed.text, L"next line") << c.name;
        ASSERT_TRUE(LogFile::parse(lines[3], parsed)) << c.name;
        EXPECT_EQ(parsed.text, L"and one more") << c.name;
    }

    // A file whose last text ended in its own line feed is whole: nothing is
    // added before the next line.
    writeLogFile(logPath(0), L"whole line\n");
    auto logger = make();
    ASSERT_EQ(logger->Write(L"Src", L"f", 7, 3, L"next line"), 0u);
    const std::wstring text = LogFile::readText(logPath(0));
    EXPECT_EQ(text.compare(0, 11, L"whole line\n"), 0);
    EXPECT_NE(text[11], L'\r');
}

// A module ini left torn by a writer that ended half-way: a header without
// its value, a value without its header, a half line. Once the logger writes
// the file again, every setting that survived still reads, and nothing is left
// that does not read back.
TEST_F(FileLoggerTest, TornIniIsWrittenAgainWhole)
{
    prepareFolder();
    const std::wstring ini = m_folder + L"\\log.ini";
    setIni(ini, L"MaxSize", 0x50000);
    setIni(ini, L"Options", 0);
    setIni(ini, L"MaxEntries", 4);
    setIni(ini, L"Severity", 2);
    // A header whose value went missing, a value whose header went missing,
    // and a header line cut short at the end of the file.
    std::string text = ScratchFolder::read(ini);
    auto cutLine = [&text](const std::string& key) {
        const size_t at = text.find("\n" + key + "=");
        ASSERT_NE(at, std::string::npos) << key;
        const size_t end = text.find('\n', at + 1);
        text.erase(at, end - at);
    };
    cutLine("MaxEntries");
    cutLine("_Severity");
    text += "_LastLogIdx=4356524701000000040000000400000001";
    m_scratch.write(ini.substr(m_scratch.path().size() + 1), text);

    writeLogFile(logPath(0), std::wstring(0x50000 / 2, L'x'));
    auto logger = make();
    EXPECT_EQ(logger->GetMaxSize(), 0x50000u);
    EXPECT_EQ(logger->GetMaxEntries(), 3u) << "the torn value reads as missing";
    ASSERT_EQ(logger->Write(L"Src", L"f", 1, 3, L"moves to file 001"), 0u);

    int value = -1;
    ASSERT_TRUE(getIni(ini, L"LastLogIdx", value));
    EXPECT_EQ(value, 1);
    ASSERT_TRUE(getIni(ini, L"MaxSize", value));
    EXPECT_EQ(value, 0x50000);
    ASSERT_TRUE(getIni(ini, L"Options", value));
    EXPECT_EQ(value, 0);
    // Only the section and whole pairs are left.
    const std::set<std::string> allowed = {"[Config]", "MaxSize", "_MaxSize", "Options", "_Options", "LastLogIdx",
                                           "_LastLogIdx"};
    const std::string after = ScratchFolder::read(ini);
    size_t begin = 0;
    while (begin < after.size()) {
        size_t end = after.find('\n', begin);
        if (end == std::string::npos)
            end = after.size();
        std::string line = after.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty()) {
            EXPECT_EQ(allowed.count(line.substr(0, line.find('='))), 1u) << line;
        }
    }
}

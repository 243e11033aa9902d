#include "QuellatProgramFixture.h"

#include "TestNames.h"

#include <windows.h>

#include <sstream>

namespace QuellatTests {

std::string describe(const std::vector<std::wstring>& arguments)
{
    std::wstring text;
    for (const std::wstring& argument : arguments)
        text += L"[" + argument + L"] ";
    return TestSupport::narrow(text);
}

std::vector<std::wstring> split(const std::wstring& text)
{
    std::wistringstream stream(text);
    std::vector<std::wstring> words;
    for (std::wstring word; stream >> word;)
        words.push_back(word);
    return words;
}

std::wstring besideTests(const std::wstring& name)
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length < MAX_PATH ? length : 0);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

void QuellatProgram::SetUp()
{
    ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(QUELLAT_PATH).c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(PLANTED_ADVAPI32_PATH).c_str(),
                          root.file(L"advapi32.dll").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(TestSupport::buildMachinePath(PLANTED_VERSION_PATH).c_str(),
                          root.file(L"version.dll").c_str(), FALSE));
    SetEnvironmentVariableW(L"PLANTED_LIBRARY_MARKER", marker.c_str());
    ASSERT_TRUE(log.ready());
}

void QuellatProgram::TearDown()
{
    EXPECT_EQ("", TestSupport::ScratchFolder::read(marker)) << "a planted library loaded";
}

TestSupport::ChildProcessResult QuellatProgram::launch(const std::vector<std::wstring>& arguments) const
{
    return TestSupport::runChildProcess(program, arguments);
}

uint32_t QuellatProgram::run(const std::vector<std::wstring>& arguments) const
{
    const TestSupport::ChildProcessResult result = launch(arguments);
    EXPECT_TRUE(result.finished) << describe(arguments);
    EXPECT_EQ("", result.output) << describe(arguments);
    return result.exitCode;
}

Lines QuellatProgram::logged() const
{
    Lines texts;
    for (const TestSupport::LogLine& line : log.lines()) {
        if (line.file != L"Quellat")
            continue;
        EXPECT_EQ(L"wmain", line.function);
        EXPECT_EQ(L"Quellat.exe", line.executable);
        texts.push_back(line.level + L": " + line.text);
    }
    log.clear();
    return texts;
}

} // namespace QuellatTests

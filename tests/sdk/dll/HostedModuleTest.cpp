#include "HostedModuleTest.h"

#include <windows.h>

TestSupport::ChildProcessResult HostedModuleTest::runHost(const std::wstring& behaviour,
                                                          const std::vector<std::wstring>& options,
                                                          const std::vector<std::wstring>& steps,
                                                          const std::wstring& program)
{
    SetEnvironmentVariableW(L"TESTMODULE_BEHAVIOUR", behaviour.c_str());
    SetEnvironmentVariableW(L"TESTMODULE_JOURNAL", m_journal.c_str());
    std::vector<std::wstring> arguments = options;
    arguments.push_back(TestSupport::buildMachinePath(TEST_MODULE_PATH));
    arguments.insert(arguments.end(), steps.begin(), steps.end());
    return TestSupport::runChildProcess(program.empty() ? TestSupport::buildMachinePath(MODULE_HOST_PATH) : program,
                                        arguments);
}

HostedModuleTest::Lines HostedModuleTest::hostLines(const std::wstring& behaviour,
                                                    const std::vector<std::wstring>& options,
                                                    const std::vector<std::wstring>& steps)
{
    const auto result = runHost(behaviour, options, steps);
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode) << result.output;
    return result.lines();
}

HostedModuleTest::Lines HostedModuleTest::journal() const
{
    TestSupport::ChildProcessResult text;
    text.output = TestSupport::ScratchFolder::read(m_journal);
    return text.lines();
}

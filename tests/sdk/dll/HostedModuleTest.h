#pragma once
#include "ChildProcess.h"
#include "ScratchFolder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Tests that run the host double over the test module library in a process of
// its own and read what the host printed and what the module journaled.
class HostedModuleTest : public ::testing::Test {
public:
    using Lines = std::vector<std::string>;

protected:
    // Runs `program` (the host double's build by default) with `options`, the
    // test module library and `steps`; the module behaves as `behaviour` says.
    TestSupport::ChildProcessResult runHost(const std::wstring& behaviour, const std::vector<std::wstring>& options,
                                            const std::vector<std::wstring>& steps,
                                            const std::wstring& program = std::wstring());
    // The host's lines, expecting it to finish every step.
    Lines hostLines(const std::wstring& behaviour, const std::vector<std::wstring>& options,
                    const std::vector<std::wstring>& steps);
    // The calls that reached the module, one a line.
    Lines journal() const;

    TestSupport::ScratchFolder m_folder;
    const std::wstring m_journal = m_folder.file(L"journal.txt");
};

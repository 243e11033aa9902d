#pragma once
#include "ChildProcess.h"
#include "ScratchFolder.h"
#include "ToolLogFolder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace QuellatTests {

using Lines = std::vector<std::wstring>;

// "[a] [b] " for failure messages.
std::string describe(const std::vector<std::wstring>& arguments);
// Splits at blanks.
std::vector<std::wstring> split(const std::wstring& text);
// A file beside the test program.
std::wstring besideTests(const std::wstring& name);

// The program in a folder of its own, with libraries planted beside it under
// system libraries' names: the program binds such libraries only after it
// restricted the search to the system folder, so a planted one must never
// load. No bus library is beside it.
class QuellatProgram : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the program to its end; its exit code. It never writes to the console.
    uint32_t run(const std::vector<std::wstring>& arguments) const;
    // The same without assertions, for a thread of the test's own.
    TestSupport::ChildProcessResult launch(const std::vector<std::wstring>& arguments) const;
    // The program's own log lines since the last call, as "<level>: <text>".
    Lines logged() const;

    TestSupport::ScratchFolder root;
    const std::wstring program = root.file(L"Quellat.exe");
    const std::wstring marker = root.file(L"planted.marker");
    ToolLogFolder log{L"Quellat"};
};

} // namespace QuellatTests

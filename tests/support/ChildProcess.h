#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace TestSupport {

// What a finished program left: its exit code and its standard output.
struct ChildProcessResult {
    uint32_t exitCode = 0;
    bool finished = false; // false: killed at the deadline, or not started
    std::string output;

    std::vector<std::string> lines() const;
};

// Runs a program of this build with the arguments given (each quoted), in the
// test's environment, and collects its standard output. A program still
// running at the deadline is killed.
ChildProcessResult runChildProcess(const std::wstring& program, const std::vector<std::wstring>& arguments,
                                   std::chrono::milliseconds deadline = std::chrono::seconds(30));

// A path of the build machine as this Wine process sees it ("/a/b" -> "Z:\a\b").
std::wstring buildMachinePath(const char* path);

} // namespace TestSupport

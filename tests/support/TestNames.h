#pragma once
#include <string>

namespace TestSupport {

// A name no other test process uses at the same time: the running test's
// suite and name plus this process's id. Keys, folders and atoms of a test
// are named with it so that ctest -j can run tests side by side.
std::wstring uniqueName(const std::wstring& stem = L"");

// Converts UTF-8 (gtest's names) to UTF-16.
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

} // namespace TestSupport

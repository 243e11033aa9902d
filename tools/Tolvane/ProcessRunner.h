#pragma once
#include <windows.h>

#include <string>

// Starts the command line without a window and waits for it without a time
// limit. True only when it started and its exit code was read; the code
// itself is not judged.
bool runProcess(const std::wstring& commandLine, DWORD& exitCode);

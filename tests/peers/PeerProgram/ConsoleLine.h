#pragma once
#include <string>

namespace PeerProgram {

// Writes one line to standard output as UTF-8 and flushes it, so that lines
// of several threads stay whole and a reader on a pipe sees each at once.
void say(const std::wstring& line);

std::string utf8(const std::wstring& text);
std::wstring wide(const std::string& text);

} // namespace PeerProgram

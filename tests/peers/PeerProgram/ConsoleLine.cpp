#include "ConsoleLine.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <mutex>

namespace PeerProgram {

namespace {
std::mutex g_lock;
}

std::string utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring wide(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? static_cast<size_t>(size) : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

void say(const std::wstring& line)
{
    const std::string text = utf8(line) + "\n";
    std::lock_guard<std::mutex> hold(g_lock);
    // Line ends as a Unix reader expects them, without a carriage return.
    static const int binary = _setmode(_fileno(stdout), _O_BINARY);
    (void)binary;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

} // namespace PeerProgram

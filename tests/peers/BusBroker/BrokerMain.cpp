// OndrelBroker <pipe name> [<most unread bytes per client>]: routes the bus
// library double's traffic between processes over the named pipe
// \\.\pipe\<pipe name>, and says so on its output once it listens. It
// ends when its standard input is a pipe that closes, or when it is killed;
// exit code 2 means bad arguments or a name already taken.
#include "BrokerPipe.h"
#include "BrokerRouter.h"
#include "CommandArguments.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

// 0 when the text is not a positive decimal number.
size_t byteCount(const std::wstring& text)
{
    if (text.empty() || text.size() > 15 || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return 0;
    return static_cast<size_t>(std::stoull(text));
}

// Whoever started the broker with a pipe as its input ends it by closing that pipe.
void endWithInput()
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (!input || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_PIPE)
        return;
    std::thread([input]() {
        char buffer[256];
        DWORD read = 0;
        while (ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        }
        std::fflush(stderr);
        // Nothing is left to clean up, and under Wine 8 ExitProcess took about
        // 8 s here while the other threads waited on pipes.
        TerminateProcess(GetCurrentProcess(), 0);
    }).detach();
}

} // namespace

int main()
{
    const std::vector<std::wstring> args = BusBroker::commandArguments();
    const std::wstring name = args.empty() ? L"" : args[0];
    const size_t maxUnreadBytes =
        args.size() >= 2 ? byteCount(args[1]) : BusBroker::BrokerSession::kDefaultMaxUnreadBytes;
    if (name.empty() || name.find(L'\\') != std::wstring::npos || args.size() > 2 || maxUnreadBytes == 0) {
        std::fprintf(stderr, "OndrelBroker: usage: OndrelBroker <pipe name> [<most unread bytes per client>]\n");
        return 2;
    }
    // The first instance claims the name, so two brokers never share one.
    std::unique_ptr<BusBroker::BrokerPipe> next = BusBroker::BrokerPipe::listen(name, true);
    if (!next) {
        std::fprintf(stderr, "OndrelBroker: cannot create the pipe (error %lu)\n", GetLastError());
        return 2;
    }
    endWithInput();
    // Whoever started it learns that it runs: a program Wine ended at start-up wrote nothing.
    std::printf("OndrelBroker: listening on \\\\.\\pipe\\%ls\n", name.c_str());
    std::fflush(stdout);
    BusBroker::BrokerRouter* router = new BusBroker::BrokerRouter(maxUnreadBytes); // lives until the process ends
    for (;;) {
        if (!next->accept(nullptr)) {
            next = BusBroker::BrokerPipe::listen(name, false);
            if (!next)
                Sleep(10);
            continue;
        }
        router->serve(std::move(next));
        while (!(next = BusBroker::BrokerPipe::listen(name, false)))
            Sleep(10);
    }
}

// OndrelBroker <pipe name>: routes the bus library double's traffic between
// processes over the named pipe \\.\pipe\<pipe name>. It ends when its
// standard input is a pipe that closes, or when it is killed; exit code 2
// means the name was missing or already taken.
#include "BrokerPipe.h"
#include "BrokerRouter.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

std::wstring pipeNameArgument()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments)
        return L"";
    const std::wstring name = count >= 2 ? arguments[1] : L"";
    LocalFree(arguments);
    return name;
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
        ExitProcess(0);
    }).detach();
}

} // namespace

int main()
{
    const std::wstring name = pipeNameArgument();
    if (name.empty() || name.find(L'\\') != std::wstring::npos) {
        std::fprintf(stderr, "OndrelBroker: usage: OndrelBroker <pipe name>\n");
        return 2;
    }
    // The first instance claims the name, so two brokers never share one.
    std::unique_ptr<BusBroker::BrokerPipe> next = BusBroker::BrokerPipe::listen(name, true);
    if (!next) {
        std::fprintf(stderr, "OndrelBroker: cannot create the pipe (error %lu)\n", GetLastError());
        return 2;
    }
    endWithInput();
    BusBroker::BrokerRouter* router = new BusBroker::BrokerRouter(); // lives until the process ends
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

#include "BrokerWait.h"

#include "BrokerPipe.h"

#include <windows.h>

#include <string>

namespace PeerProgram {

bool waitForBroker()
{
    wchar_t name[256] = {};
    const DWORD length = GetEnvironmentVariableW(BusBroker::kBrokerPipeVariable, name, 256);
    if (length == 0 || length >= 256)
        return true;
    // The broker drops a connection that says nothing.
    for (int attempt = 0; attempt < 400; ++attempt) {
        if (BusBroker::BrokerPipe::connect(name, 0))
            return true;
        Sleep(50);
    }
    return false;
}

} // namespace PeerProgram

// service_host.exe <module library> [<log copy>]: loads the module library,
// runs its module (named "Sentrel") through the module table while the
// session API double reports one active user session, logged on long ago,
// and ends it when standard input closes. The module logs to files (the
// file logger selected, every level); when a log copy is named, its lines
// are written there as UTF-8 text as they are logged (within a second). Exit codes: 0 every entry
// answered success, 1 one did not, 2 bad command line or library, 3 the
// session double or the log folder could not be set up.
#include "ConsoleLine.h"
#include "HostedModule.h"
#include "InputEnd.h"
#include "LogCopy.h"
#include "ToolLogFolder.h"
#include "WtsDoubleControl.h"

#include <memory>
#include <string>

using PeerProgram::say;

namespace {

const wchar_t kModuleName[] = L"Sentrel";
const uint32_t kUserSession = 1;

// How often the log copy looks for new lines.
const DWORD kCopyIntervalMs = 250;

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2 || argc > 3) {
        say(L"usage: service_host <module library> [<log copy>]");
        return 2;
    }
    // Set up before the module makes its logger, and kept until after it ended.
    ToolLogFolder log{L"Sentrel", kModuleName, L""};
    WtsDouble::WtsDoubleControl sessions;
    if (!log.ready() || !sessions.ready()) {
        say(L"host: cannot set up the log folder or the session API double");
        return 3;
    }
    sessions.setActiveSession(kUserSession);
    sessions.setLoggedOnSecondsAgo(kUserSession, 24 * 3600);

    std::unique_ptr<ServiceHost::LogCopy> copy;
    if (argc == 3) {
        copy.reset(new ServiceHost::LogCopy(log, argv[2]));
        if (!copy->ready()) {
            say(L"host: cannot write the log copy " + std::wstring(argv[2]));
            return 3;
        }
    }
    int result = 0;
    {
        ServiceHost::HostedModule module(argv[1]);
        if (!module.start(kModuleName)) {
            say(L"host: " + module.error());
            return 2;
        }
        if (!WtsDouble::WtsDoubleControl::doubleLoaded()) {
            say(L"host: the session API double was not loaded (WINEDLLOVERRIDES must say wtsapi32=n)");
            return 3;
        }
        say(L"host: " + std::wstring(kModuleName) + L" is running; user session " + std::to_wstring(kUserSession) +
            L" is the active one");
        const PeerProgram::InputEnd input;
        while (!input.ended()) {
            if (copy)
                copy->update();
            Sleep(kCopyIntervalMs);
        }
        if (!module.stop()) {
            say(L"host: " + module.error());
            result = 1;
        }
    }
    if (copy && !copy->finish()) {
        say(L"host: cannot write the log copy " + std::wstring(argv[2]));
        result = result ? result : 3;
    }
    return result;
}

// service_host.exe <module library> [<log copy>]: loads the module library,
// runs its module (named "Sentrel") through the module table while the
// session API double reports one active user session, logged on long ago,
// and ends it when standard input closes. The module logs to files (the
// file logger selected, every level); when a log copy is named, its lines
// are written there as UTF-8 text at the end. Exit codes: 0 every entry
// answered success, 1 one did not, 2 bad command line or library, 3 the
// session double or the log folder could not be set up.
#include "ConsoleLine.h"
#include "HostedModule.h"
#include "InputEnd.h"
#include "ToolLogFolder.h"
#include "WtsDoubleControl.h"

#include <cstdio>
#include <string>

using PeerProgram::say;

namespace {

const wchar_t kModuleName[] = L"Sentrel";
const uint32_t kUserSession = 1;

bool copyLog(const ToolLogFolder& log, const std::wstring& path)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    for (const TestSupport::LogLine& line : log.lines()) {
        const std::string text = PeerProgram::utf8(line.timestamp + L"  " + line.level + L"  " + line.function +
                                                   L": " + line.text) +
                                 "\n";
        std::fwrite(text.data(), 1, text.size(), file);
    }
    return std::fclose(file) == 0;
}

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
        PeerProgram::InputEnd().wait();
        if (!module.stop()) {
            say(L"host: " + module.error());
            result = 1;
        }
    }
    if (argc == 3 && !copyLog(log, argv[2])) {
        say(L"host: cannot write the log copy " + std::wstring(argv[2]));
        result = result ? result : 3;
    }
    return result;
}

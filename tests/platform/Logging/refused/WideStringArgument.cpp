// Must not compile: the front door takes the text of a std::wstring only
// through its c_str().
#include "Logging/Log.h"

#include <string>

void logsAnObject()
{
    const std::wstring name = L"Sentrel";
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, L"Refused", L"logsAnObject", L"Name %s.", name);
}

// The product hooks of the Sentrel module library: the module table makes
// and ends the alert service's module object through these two.
#include "module/SentrelImpl.h"

#include "Logging/Log.h"

namespace Ostrand {

MODULE_STATUS createModule(Module** module)
{
    if (!module)
        return MODULE_STATUS_INVALID_PARAMETER;
    *module = new Kest::SentrelImpl(nullptr, nullptr, nullptr);
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, L"Sentrel", L"Ostrand::createModule", L"Created Sentrel module.");
    return MODULE_STATUS_SUCCESS;
}

void destroyModule(Module* module)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, L"Sentrel", L"Ostrand::destroyModule", L"Destroying Sentrel module.");
    delete module;
}

} // namespace Ostrand

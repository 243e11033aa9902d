#include "plugin/PluginCallGuard.h"

#include "Logging/Log.h"

#include <exception>

namespace Kest {

MODULE_STATUS guardPluginCall(const wchar_t* source, const wchar_t* function, const wchar_t* callee,
                              const std::wstring& product, const std::function<MODULE_STATUS()>& body) noexcept
{
    const wchar_t* threw = L"Call of %ls for product %ls threw: %hs. Failing the call.";
    try {
        return body ? body() : MODULE_STATUS_UNKNOWN_EXCEPTION;
    } catch (const std::exception& error) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, source, function, threw, callee, product.c_str(), error.what());
    } catch (...) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, source, function, threw, callee, product.c_str(),
                "an exception of unknown type");
    }
    return MODULE_STATUS_UNKNOWN_EXCEPTION;
}

} // namespace Kest

// The eight entries of the module table. Each tests the pointers it was given,
// refuses bad ones with a level-4 line, and runs the rest under the barrier so
// that no exception reaches the host.
#include "dll/BaseModule.h"
#include "dll/CallGuarded.h"
#include "dll/ModuleHandle.h"
#include "dll/ModuleManagerShim.h"
#include "dll/ModuleTable.h"
#include "message/Message.h"
#include "message/MessageBusClient.h"
#include "message/MessageBusShimImpl.h"

#include "Logging/Log.h"

#include <memory>

namespace Ostrand {
namespace internal {

namespace {

constexpr const wchar_t* kSource = L"ModuleFunctions";

// The handle and the module it owns; logs the refusal when either is missing.
Module* moduleOf(MODULE_HANDLE handle, const wchar_t* function)
{
    Module* module = handle ? handle->module() : nullptr;
    if (!module)
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Invalid handle.");
    return module;
}

// Names and parameter strings are read below, so a null one is refused here:
// the barrier cannot catch the access violation reading it would cause.
bool initializeArgumentsValid(const wchar_t* function, const wchar_t* moduleName, const wchar_t* secondName,
                              uint32_t parameterCount, const wchar_t* const* names, const wchar_t* const* values)
{
    if (!moduleName || !secondName) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Invalid module name.");
        return false;
    }
    if (parameterCount == 0)
        return true;
    if (!names || !values) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Invalid parameter arrays.");
        return false;
    }
    for (uint32_t i = 0; i < parameterCount; ++i) {
        if (!names[i] || !values[i]) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function, L"Invalid parameter at index %lu.",
                    static_cast<unsigned long>(i));
            return false;
        }
    }
    return true;
}

// The body InitializeModule and InitializeModuleV2 share; they differ only in
// where the module's bus comes from.
template <typename MakeBus>
MODULE_STATUS initializeModule(const wchar_t* function, MODULE_HANDLE handle, const wchar_t* moduleName,
                               const wchar_t* secondName, uint32_t parameterCount, const wchar_t* const* names,
                               const wchar_t* const* values, void* managerContext,
                               ModuleManagerCallback managerCallback, MakeBus makeBus)
{
    Module* module = moduleOf(handle, function);
    if (!module)
        return MODULE_STATUS_INVALID_PARAMETER;
    if (!initializeArgumentsValid(function, moduleName, secondName, parameterCount, names, values))
        return MODULE_STATUS_INVALID_PARAMETER;
    return callGuarded([&]() -> MODULE_STATUS {
        auto* base = dynamic_cast<BaseModule*>(module);
        if (!base)
            return module->initialize();

        BaseModule::ParameterMap parameters;
        for (uint32_t i = 0; i < parameterCount; ++i)
            parameters.emplace(names[i], values[i]); // a repeated name keeps its first value
        auto moduleManager = std::make_shared<ModuleManagerShim>(managerContext, managerCallback);
        const std::shared_ptr<MessageBus> bus = makeBus();
        // The base class's own step, even where the product overrides it.
        const MODULE_STATUS status = base->BaseModule::baseInitialize(moduleName, secondName, parameters,
                                                                      std::move(moduleManager), bus);
        if (status != MODULE_STATUS_SUCCESS) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, function,
                    L"Failed to initialize base module. Error code %lu.", static_cast<unsigned long>(status));
            return status;
        }
        return module->initialize();
    });
}

MODULE_STATUS NewModule(MODULE_HANDLE* handle, const wchar_t* moduleName)
{
    if (!handle) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"NewModule", L"Invalid handle address.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    // The logger takes its identity from the first log call of the process:
    // the module's name has to be handed over before anything logs.
    if (moduleName && moduleName[0] != L'\0')
        ETWLogging::SetLogIdentity(nullptr, moduleName, nullptr, nullptr, 0);

    return callGuarded([&]() -> MODULE_STATUS {
        // The handle exists before the module, so a module is never made that
        // nothing owns.
        auto owned = std::make_unique<ModuleHandle>();
        Module* module = nullptr;
        const MODULE_STATUS status = Ostrand::createModule(&module);
        if (status != MODULE_STATUS_SUCCESS)
            return status;
        owned->adopt(module);
        *handle = owned.release();
        return MODULE_STATUS_SUCCESS;
    });
}

MODULE_STATUS DestroyModule(MODULE_HANDLE handle)
{
    if (!handle) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"DestroyModule", L"Invalid handle.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    return callGuarded([&]() -> MODULE_STATUS {
        // The host must not use the handle afterwards, so it is freed even
        // when the product's destroyModule throws.
        std::unique_ptr<ModuleHandle> owned(handle);
        owned->destroyModule();
        return MODULE_STATUS_SUCCESS;
    });
}

MODULE_STATUS InitializeModule(MODULE_HANDLE handle, const wchar_t* moduleName, const wchar_t* secondName,
                               uint32_t parameterCount, const wchar_t* const* parameterNames,
                               const wchar_t* const* parameterValues, void* managerContext,
                               ModuleManagerCallback managerCallback)
{
    // Without the host's bus the client loads the bus library itself.
    return initializeModule(L"InitializeModule", handle, moduleName, secondName, parameterCount, parameterNames,
                            parameterValues, managerContext, managerCallback,
                            [] { return std::make_shared<MessageBusClient>(); });
}

MODULE_STATUS InitializeModuleV2(MODULE_HANDLE handle, const wchar_t* moduleName, const wchar_t* secondName,
                                 uint32_t parameterCount, const wchar_t* const* parameterNames,
                                 const wchar_t* const* parameterValues, void* managerContext,
                                 ModuleManagerCallback managerCallback, void* busHandle,
                                 const MessageBusFunctions* busFunctions)
{
    // The host's handle and table stay the host's: the shim only borrows them
    // and refuses null ones by throwing.
    return initializeModule(L"InitializeModuleV2", handle, moduleName, secondName, parameterCount, parameterNames,
                            parameterValues, managerContext, managerCallback, [&] {
                                return std::make_shared<MessageBusClient>(
                                    std::make_shared<MessageBusShimImpl>(busHandle, busFunctions), nullptr);
                            });
}

MODULE_STATUS StartModule(MODULE_HANDLE handle)
{
    Module* module = moduleOf(handle, L"StartModule");
    if (!module)
        return MODULE_STATUS_INVALID_PARAMETER;
    return callGuarded([&]() -> MODULE_STATUS { return module->start(); });
}

MODULE_STATUS StopModule(MODULE_HANDLE handle)
{
    Module* module = moduleOf(handle, L"StopModule");
    if (!module)
        return MODULE_STATUS_INVALID_PARAMETER;
    return callGuarded([&]() -> MODULE_STATUS { return module->stop(); });
}

MODULE_STATUS UninitializeModule(MODULE_HANDLE handle)
{
    Module* module = moduleOf(handle, L"UninitializeModule");
    if (!module)
        return MODULE_STATUS_INVALID_PARAMETER;
    return callGuarded([&]() -> MODULE_STATUS { return module->uninitialize(); });
}

MODULE_STATUS DirectMessage(MODULE_HANDLE handle, const MessageWireHeader* header, const wchar_t* name,
                            const wchar_t* source, const wchar_t* payload)
{
    Module* module = moduleOf(handle, L"DirectMessage");
    if (!module)
        return MODULE_STATUS_INVALID_PARAMETER;
    if (!name || !source || !payload) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"DirectMessage", L"Invalid message string.");
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    return callGuarded([&]() -> MODULE_STATUS {
        const std::shared_ptr<Message> message = Message::create(name, source, payload);
        if (!message) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"DirectMessage",
                    L"Failed to create direct message. Returning.");
            return MODULE_STATUS_UNKNOWN_EXCEPTION;
        }
        // A null header leaves the default one; a version-1 header is upgraded.
        message->copyHeaderFrom(header);
        // Only a base module has local subscribers; any other module drops it.
        auto* base = dynamic_cast<BaseModule*>(module);
        return base ? base->directMessage(message) : MODULE_STATUS_SUCCESS;
    });
}

const ModuleFunctions kModuleFunctions = {
    &NewModule,  &DestroyModule,      &InitializeModule, &StartModule,
    &StopModule, &UninitializeModule, &DirectMessage,    &InitializeModuleV2,
};

} // namespace

const ModuleFunctions* moduleFunctionTable()
{
    return &kModuleFunctions;
}

} // namespace internal
} // namespace Ostrand

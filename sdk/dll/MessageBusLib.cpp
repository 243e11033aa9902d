#include "dll/MessageBusLib.h"

#include "Logging/Log.h"
#include "dll/CallGuarded.h"
#include "dll/ModuleException.h"
#include "dll/ModulePath.h"
#include "dll/ModuleStatusText.h"
#include "message/MessageBusShimImpl.h"


namespace Ostrand {

namespace {

const wchar_t kSource[] = L"MessageBusLib";
const wchar_t kFunction[] = L"Ostrand::MessageBusLib::MessageBusLib";

using CreateObjectFunction = const void* (*)(uint32_t version);

// The folder of the program this process runs; empty when it cannot be read.
std::wstring programFolder()
{
    const std::wstring path = internal::modulePath(nullptr);
    const size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

} // namespace

void MessageBusLib::LibraryRelease::operator()(HMODULE module) const
{
    if (module)
        FreeLibrary(module);
}

const wchar_t* MessageBusLib::libraryName()
{
    return L"Ondrel.dll";
}

MessageBusLib::MessageBusLib(std::shared_ptr<MessageBusShim> inner)
{
    const std::wstring folder = programFolder();
    const std::wstring path = folder + L"\\" + libraryName();
    if (!folder.empty())
        m_library.reset(LoadLibraryExW(path.c_str(), nullptr,
                                       LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!m_library) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction,
                L"Failed to load library: %ls. Throwing ModuleException.", libraryName());
        throw ModuleException("Failed to load library");
    }
    const auto createObject =
        reinterpret_cast<CreateObjectFunction>(reinterpret_cast<void*>(GetProcAddress(m_library.get(), "CreateObject")));
    if (createObject)
        m_functions = static_cast<const MessageBusFunctions*>(createObject(MESSAGE_BUS_FUNCTIONS_VERSION));
    if (!m_functions) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction,
                L"Failed to get message bus functions object. Throwing ModuleException.");
        throw ModuleException("Failed to get message bus functions object");
    }
    const uint32_t status = m_functions->getHandle ? m_functions->getHandle(&m_handle) : MODULE_STATUS_NOT_FOUND;
    if (status != MODULE_STATUS_SUCCESS || !m_handle) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction,
                L"Failed to get message bus handle. Error code: %ls(%lu). Throwing ModuleException.",
                moduleStatusToString(status), static_cast<unsigned long>(status));
        throw ModuleException("Failed to get message bus handle");
    }
    try {
        m_inner = inner ? std::move(inner) : std::make_shared<MessageBusShimImpl>(m_handle, m_functions);
    } catch (...) {
        m_functions->release(m_handle);
        throw;
    }
}

MessageBusLib::~MessageBusLib()
{
    m_inner.reset();
    internal::callGuarded([this]() -> uint32_t {
        const uint32_t status = m_functions->release(m_handle);
        if (status != MODULE_STATUS_SUCCESS) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::MessageBusLib::~MessageBusLib",
                    L"Failed to release message bus. Error code %ls(%lu).", moduleStatusToString(status),
                    static_cast<unsigned long>(status));
        }
        return status;
    });
}

uint32_t MessageBusLib::publish(const std::shared_ptr<Message> message, bool ex)
{
    return m_inner->publish(message, ex);
}

uint32_t MessageBusLib::request(const std::shared_ptr<Message> message, uint64_t replyIndex,
                                ReplyFunction* replyFunction, uint64_t timeoutMs, bool ex)
{
    return m_inner->request(message, replyIndex, replyFunction, timeoutMs, ex);
}

uint32_t MessageBusLib::detachReplyCallback()
{
    return m_inner->detachReplyCallback();
}

uint32_t MessageBusLib::subscribe(const std::wstring& name, SubscriberFunction* callback)
{
    return m_inner->subscribe(name, callback);
}

uint32_t MessageBusLib::subscribeFilter(const std::wstring& pattern, SubscriberFunction* callback)
{
    return m_inner->subscribeFilter(pattern, callback);
}

uint32_t MessageBusLib::unsubscribe(uint32_t id)
{
    return m_inner->unsubscribe(id);
}

} // namespace Ostrand

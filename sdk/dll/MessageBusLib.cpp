#include "dll/MessageBusLib.h"

#include "Logging/Log.h"
#include "dll/CallGuarded.h"
#include "dll/ModuleException.h"
#include "dll/ModuleStatusText.h"
#include "message/MessageBusShimImpl.h"
#include "performance/PerfTimer.h"

#include <mutex>

namespace Ostrand {

const LibraryDescriptor defaultBusLibrary = {L"Ondrel.dll", {L"$(App.Folder)", L"$(Strova.InstallDir)"}};

namespace {

const wchar_t kSource[] = L"MessageBusLib";
const wchar_t kFunction[] = L"Ostrand::MessageBusLib::MessageBusLib";

using CreateObjectFunction = const void* (*)(uint32_t version);

// The connections of a process made from the default descriptor share one
// loaded bus library while any of them lives: the library a checked load
// mapped is not checked and mapped once more for every new connection (one
// per alert and per viewer call), which cost a whole hash of the file each.
std::shared_ptr<SharedLibrary> sharedDefaultLibrary()
{
    static std::mutex mutex;
    static std::weak_ptr<SharedLibrary> current;
    std::lock_guard<std::mutex> hold(mutex);
    std::shared_ptr<SharedLibrary> library = current.lock();
    if (!library) {
        library = std::make_shared<SharedLibrary>(defaultBusLibrary);
        current = library;
    }
    return library;
}

} // namespace

MessageBusLib::MessageBusLib(std::shared_ptr<SharedLibrary> library, std::shared_ptr<MessageBusShim> inner)
{
    internal::PerfTimer timer(L"MessageBusLib::MessageBusLib");
    m_library = library ? std::move(library) : sharedDefaultLibrary();

    const auto createObject = reinterpret_cast<CreateObjectFunction>(m_library->getFunctions()->createObject);
    if (createObject)
        m_functions = static_cast<const MessageBusFunctions*>(createObject(MESSAGE_BUS_FUNCTIONS_VERSION));
    // A table with a hole is no table: its first use of the missing entry
    // would crash, so it is refused before any entry is called.
    if (!MessageBusShimImpl::isComplete(m_functions)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction,
                L"Failed to get message bus functions object. Throwing ModuleException.");
        throw ModuleException("Failed to get message bus functions object");
    }

    uint32_t status = m_functions->getHandle(&m_handle);
    // A handle reported as opened but not handed out cannot be used or released.
    if (status == MODULE_STATUS_SUCCESS && !m_handle)
        status = MODULE_STATUS_INVALID_HANDLE;
    if (status != MODULE_STATUS_SUCCESS) {
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
    // The inner shim goes first: it detaches the reply callback from the handle.
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
    m_library.reset();
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

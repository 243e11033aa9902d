#pragma once
#include "message/MessageBusShim.h"

#include "MessageBusFunctions.h"

#include <windows.h>

#include <memory>

namespace Ostrand {

// A bus connection of its own for code that was handed none: loads the bus
// library, opens a handle and forwards to a shim over it. Releases the handle
// and unloads the library when it goes.
class MessageBusLib : public MessageBusShim {
public:
    // Throws ModuleException when the library, its table or a handle cannot be had.
    explicit MessageBusLib(std::shared_ptr<MessageBusShim> inner = nullptr);
    ~MessageBusLib() override;
    MessageBusLib(const MessageBusLib&) = delete;
    MessageBusLib& operator=(const MessageBusLib&) = delete;

    uint32_t publish(const std::shared_ptr<Message> message, bool ex) override;
    uint32_t request(const std::shared_ptr<Message> message, uint64_t replyIndex, ReplyFunction* replyFunction,
                     uint64_t timeoutMs, bool ex) override;
    uint32_t detachReplyCallback() override;
    uint32_t subscribe(const std::wstring& name, SubscriberFunction* callback) override;
    uint32_t subscribeFilter(const std::wstring& pattern, SubscriberFunction* callback) override;
    uint32_t unsubscribe(uint32_t id) override;

    static const wchar_t* libraryName();

private:
    struct LibraryRelease {
        void operator()(HMODULE module) const;
    };
    using LibraryHandle = std::unique_ptr<std::remove_pointer_t<HMODULE>, LibraryRelease>;

    LibraryHandle m_library;
    std::shared_ptr<MessageBusShim> m_inner;
    void* m_handle = nullptr;
    const MessageBusFunctions* m_functions = nullptr;
};

} // namespace Ostrand

#pragma once
#include "dll/LibraryDescriptor.h"
#include "dll/SharedLibrary.h"
#include "message/MessageBusShim.h"

#include "MessageBusFunctions.h"

#include <memory>

namespace Ostrand {

// The bus library and where it is looked for: beside the host program, then
// in the host framework's install folder.
extern const LibraryDescriptor defaultBusLibrary;

// A bus connection of its own for code that was handed none: loads the bus
// library through the shared-library loader (the default library once for
// all connections of the process that are alive at the same time), opens a
// handle and forwards to a shim over it. Detaches, releases the handle and
// lets go of the library when it goes, in that order; the last connection
// using the library unloads it.
class MessageBusLib : public MessageBusShim {
public:
    // Both may be empty: the bus library is then loaded from the default
    // descriptor and the shim made over the handle opened here. Throws
    // ModuleException when the library, its table or a handle cannot be had,
    // leaving nothing open.
    explicit MessageBusLib(std::shared_ptr<SharedLibrary> library = nullptr,
                           std::shared_ptr<MessageBusShim> inner = nullptr);
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

private:
    std::shared_ptr<SharedLibrary> m_library;
    std::shared_ptr<MessageBusShim> m_inner;
    void* m_handle = nullptr;
    const MessageBusFunctions* m_functions = nullptr;
};

} // namespace Ostrand

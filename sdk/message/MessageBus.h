#pragma once
#include "message/Message.h"
#include "message/Reply.h"

#include "ModuleStatus.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Ostrand {

// How every part of the system talks on the bus. Every operation returns a
// MODULE_STATUS code.
class MessageBus {
public:
    using Callback = std::function<uint32_t(std::shared_ptr<Message>)>;
    using ReplyCallback = std::function<void(std::shared_ptr<Reply>)>;

    virtual ~MessageBus() = default;

    virtual MODULE_STATUS publish(const std::shared_ptr<Message> message) = 0;
    virtual MODULE_STATUS publishEx(const std::shared_ptr<Message> message) = 0;

    virtual MODULE_STATUS request(const std::shared_ptr<Message> message, ReplyCallback callback,
                                  const std::chrono::milliseconds& timeout) = 0;
    virtual MODULE_STATUS request(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                  const std::chrono::milliseconds& timeout) = 0;
    virtual MODULE_STATUS requestEx(const std::shared_ptr<Message> message, ReplyCallback callback,
                                    const std::chrono::milliseconds& timeout) = 0;
    virtual MODULE_STATUS requestEx(const std::shared_ptr<Message> message, std::shared_ptr<Reply>& reply,
                                    const std::chrono::milliseconds& timeout) = 0;

    // Exact message names; the overloads without an alias use the name as alias.
    virtual MODULE_STATUS subscribe(const std::wstring& name, const std::wstring& alias, Callback callback) = 0;
    virtual MODULE_STATUS subscribe(const std::wstring& name, Callback callback) = 0;
    // As subscribe, but messages of another Windows session are dropped.
    virtual MODULE_STATUS subscribeSession(const std::wstring& name, const std::wstring& alias,
                                           Callback callback) = 0;
    virtual MODULE_STATUS subscribeSession(const std::wstring& name, Callback callback) = 0;
    // Regular expressions (ECMAScript) over the whole message name.
    virtual MODULE_STATUS subscribeFilter(const std::wstring& pattern, const std::wstring& alias,
                                          Callback callback) = 0;
    virtual MODULE_STATUS subscribeFilter(const std::wstring& pattern, Callback callback) = 0;
    virtual MODULE_STATUS subscribeFilterSession(const std::wstring& pattern, const std::wstring& alias,
                                                 Callback callback) = 0;
    virtual MODULE_STATUS subscribeFilterSession(const std::wstring& pattern, Callback callback) = 0;

    // Removes every subscription made under the alias.
    virtual MODULE_STATUS unsubscribe(const std::wstring& alias) = 0;
};

} // namespace Ostrand

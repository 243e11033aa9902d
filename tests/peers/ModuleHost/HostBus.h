#pragma once
#include "FamilyLibrary.h"

#include "MessageBusFunctions.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace BusDouble {
class BusDoubleControl;
}

namespace ModuleHost {

// The host's own connection on the bus library double: the handle and table it
// hands to a module, a catch-all subscription that sees every message, and
// requests whose answers it waits for.
class HostBus {
public:
    explicit HostBus(const FamilyLibrary& library);
    ~HostBus();
    HostBus(const HostBus&) = delete;
    HostBus& operator=(const HostBus&) = delete;

    bool ready() const { return m_handle != nullptr; }
    void* handle() const { return m_handle; }
    const MessageBusFunctions* functions() const { return m_functions; }

    MODULE_STATUS publish(const std::wstring& name, const std::wstring& payload);
    // Sends a request and waits up to `wait` for the answer; `answer` is
    // "<name> <payload> source=<source>" or "none".
    MODULE_STATUS request(const std::wstring& name, const std::wstring& payload, std::chrono::milliseconds wait,
                          std::string& answer);
    // Waits for a message of that name that was not yet awaited; `line` as for request.
    bool awaitMessage(const std::wstring& name, std::chrono::milliseconds wait, std::string& line);

    // One line per call the double saw: "Bus <call> <name>".
    std::vector<std::string> journal() const;
    uint32_t openConnections() const;

    static std::string utf8(const std::wstring& text);
    // The header the host sends with its own messages.
    static MessageWireHeader header(const std::wstring& name, const std::wstring& source,
                                    const std::wstring& payload, bool expectsReply);

private:
    struct Seen {
        std::wstring name;
        std::string line;
    };

    static MODULE_STATUS onMessage(void* context, const MessageWireHeader* header, const wchar_t* name,
                                   const wchar_t* source, const wchar_t* payload);
    static MODULE_STATUS onReply(void* context, uint64_t replyIndex, const MessageWireHeader* header,
                                 const wchar_t* name, const wchar_t* source, const wchar_t* payload, uint32_t status);

    const MessageBusFunctions* m_functions = nullptr;
    BusDouble::BusDoubleControl* m_control = nullptr;
    void* m_handle = nullptr;
    uint32_t m_subscription = 0;
    uint64_t m_nextReplyIndex = 1;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Seen> m_seen;
    std::map<uint64_t, std::string> m_answers;
};

} // namespace ModuleHost

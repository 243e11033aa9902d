// The bus library double: the four exports of the library family, and the
// ten-entry bus table over an in-process bus, or over a broker in another
// process for the connections opened while ONDREL_BROKER_PIPE names one.
#include "BrokerBus.h"
#include "BusDoubleControl.h"
#include "InProcessBus.h"

#include "MessageBusFunctions.h"

#include <windows.h>

namespace {

using BusDouble::BrokerBus;
using BusDouble::InProcessBus;

bool viaBroker(void* handle)
{
    return handle && BrokerBus::instance().owns(handle);
}

MODULE_STATUS getHandle(void** handle)
{
    const std::wstring pipe = BrokerBus::configuredPipe();
    if (pipe.empty())
        return InProcessBus::instance().getHandle(handle);
    InProcessBus& switches = InProcessBus::instance();
    if (handle && switches.getHandleStatus() != MODULE_STATUS_SUCCESS)
        return switches.getHandleStatus();
    return BrokerBus::instance().getHandle(handle, pipe);
}

MODULE_STATUS release(void* handle)
{
    if (viaBroker(handle))
        return BrokerBus::instance().release(handle);
    return InProcessBus::instance().release(handle);
}

MODULE_STATUS publish(void* handle, const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                      const wchar_t* payload)
{
    if (viaBroker(handle))
        return BrokerBus::instance().publish(handle, header, name, source, payload);
    return InProcessBus::instance().publish(handle, header, name, source, payload, false);
}

MODULE_STATUS publishEx(void* handle, const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                        const wchar_t* payload)
{
    if (viaBroker(handle))
        return BrokerBus::instance().publish(handle, header, name, source, payload);
    return InProcessBus::instance().publish(handle, header, name, source, payload, true);
}

MODULE_STATUS request(void* handle, uint64_t replyIndex, void* context, MessageBusReplyCallback callback,
                      const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                      const wchar_t* payload, uint64_t timeoutMs)
{
    if (viaBroker(handle))
        return BrokerBus::instance().request(handle, replyIndex, context, callback, header, name, source, payload,
                                             timeoutMs);
    return InProcessBus::instance().request(handle, replyIndex, context, callback, header, name, source, payload,
                                            timeoutMs, false);
}

MODULE_STATUS requestEx(void* handle, uint64_t replyIndex, void* context, MessageBusReplyCallback callback,
                        const MessageWireHeader* header, const wchar_t* name, const wchar_t* source,
                        const wchar_t* payload, uint64_t timeoutMs)
{
    if (viaBroker(handle))
        return BrokerBus::instance().request(handle, replyIndex, context, callback, header, name, source, payload,
                                             timeoutMs);
    return InProcessBus::instance().request(handle, replyIndex, context, callback, header, name, source, payload,
                                            timeoutMs, true);
}

uint32_t subscribe(void* handle, void* context, MessageBusSubscriptionCallback callback, const wchar_t* name)
{
    if (viaBroker(handle))
        return BrokerBus::instance().subscribe(handle, context, callback, name, false);
    return InProcessBus::instance().subscribe(handle, context, callback, name, false);
}

uint32_t subscribeFilter(void* handle, void* context, MessageBusSubscriptionCallback callback, const wchar_t* pattern)
{
    if (viaBroker(handle))
        return BrokerBus::instance().subscribe(handle, context, callback, pattern, true);
    return InProcessBus::instance().subscribe(handle, context, callback, pattern, true);
}

MODULE_STATUS unsubscribe(void* handle, uint32_t id)
{
    if (viaBroker(handle))
        return BrokerBus::instance().unsubscribe(handle, id);
    return InProcessBus::instance().unsubscribe(handle, id);
}

MODULE_STATUS detachReplyCallback(void* handle, MessageBusReplyCallback callback)
{
    if (viaBroker(handle))
        return BrokerBus::instance().detachReplyCallback(handle, callback);
    return InProcessBus::instance().detachReplyCallback(handle, callback);
}

const MessageBusFunctions kTable = {
    getHandle, release, publish, request, subscribe, subscribeFilter, unsubscribe, detachReplyCallback,
    publishEx, requestEx,
};

// The table with the entry the test asked for left null.
const MessageBusFunctions* tableWithHole(uint32_t entry)
{
    static MessageBusFunctions holed;
    holed = kTable;
    switch (entry) {
    case 0: holed.getHandle = nullptr; break;
    case 1: holed.release = nullptr; break;
    case 2: holed.publish = nullptr; break;
    case 3: holed.request = nullptr; break;
    case 4: holed.subscribe = nullptr; break;
    case 5: holed.subscribeFilter = nullptr; break;
    case 6: holed.unsubscribe = nullptr; break;
    case 7: holed.detachReplyCallback = nullptr; break;
    case 8: holed.publishEx = nullptr; break;
    default: holed.requestEx = nullptr; break;
    }
    return &holed;
}

void pinThisLibrary()
{
    // Delivery threads run code of this library until the process ends, so
    // it must never be unloaded under them.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&pinThisLibrary), &self);
}

} // namespace

extern "C" {

__declspec(dllexport) const void* CreateObject(uint32_t version)
{
    pinThisLibrary();
    if (version == MESSAGE_BUS_FUNCTIONS_VERSION) {
        const uint32_t hole = InProcessBus::instance().tableHole();
        return hole < 10 ? tableWithHole(hole) : &kTable;
    }
    if (version == BusDouble::kBusDoubleControlVersion)
        return static_cast<BusDouble::BusDoubleControl*>(&InProcessBus::instance());
    return nullptr;
}

__declspec(dllexport) void ReleaseObject()
{
}

__declspec(dllexport) const char* GetVersionStr()
{
    return "2.1.0";
}

__declspec(dllexport) uint32_t GetVersionNum()
{
    return 2001000;
}

} // extern "C"

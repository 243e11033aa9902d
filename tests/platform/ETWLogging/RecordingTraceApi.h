#pragma once
// A stand-in for the ETW calls: sessions are played by the test, and every
// event is decoded while the call lasts (its memory is the logger's stack).
#include "ETWLogging/ETWTraceApiIf.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace EtwTestDoubles {

struct Event {
    EVENT_TRACE_HEADER header;
    TRACEHANDLE handle;
    ULONG contextLength;
    uint32_t processId, threadId;
    std::wstring executable, file, function;
    int32_t line;
    std::wstring folder, version, group;
    uint64_t textLength;
    std::string text; // the UTF-8 bytes of field 1
    bool decoded;
};

class RecordingTraceApi : public ETWLogging::ETWTraceApiIf {
public:
    ULONG RegisterGuids(WMIDPREQUEST callback, void* context, const GUID* controlGuid, ULONG guidCount,
                        TRACE_GUID_REGISTRATION* registrations, TRACEHANDLE* registrationHandle) override
    {
        ++registerCalls;
        this->callback = callback;
        this->context = context;
        providerGuid = *controlGuid;
        registeredGuidCount = guidCount;
        if (guidCount > 0 && registrations && registrations[0].Guid)
            eventClassGuid = *registrations[0].Guid;
        *registrationHandle = registrationHandleToGive;
        return registerResult;
    }
    ULONG UnregisterGuids(TRACEHANDLE handle) override
    {
        unregistered.push_back(handle);
        return 0;
    }
    // The test's "buffer" is a TRACEHANDLE; null is a bad buffer.
    TRACEHANDLE LoggerHandle(void* buffer) override
    {
        if (!buffer) {
            lastError = ERROR_INVALID_HANDLE;
            return ETWLogging::kInvalidTraceHandle;
        }
        return *static_cast<TRACEHANDLE*>(buffer);
    }
    UCHAR EnableLevel(TRACEHANDLE handle) override
    {
        auto found = levels.find(handle);
        if (found == levels.end() || found->second == 0) {
            lastError = ERROR_INVALID_HANDLE;
            return 0;
        }
        return found->second;
    }
    ULONG EnableFlags(TRACEHANDLE) override { return 0x55; }
    ULONG Trace(TRACEHANDLE handle, EVENT_TRACE_HEADER* header) override
    {
        Event event = {};
        event.header = *header;
        event.handle = handle;
        const auto* fields = reinterpret_cast<const MOF_FIELD*>(header + 1);
        event.contextLength = fields[0].Length;
        const auto* p = reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(fields[0].DataPtr));
        const uint8_t* end = p + fields[0].Length;
        auto u32 = [&](uint32_t& v) { if (p + 4 > end) return false; std::memcpy(&v, p, 4); p += 4; return true; };
        auto counted = [&](std::wstring& s) {
            uint16_t n = 0;
            if (p + 2 > end) return false;
            std::memcpy(&n, p, 2);
            p += 2;
            if (p + 2u * n > end) return false;
            s.assign(n, L'\0');
            std::memcpy(&s[0], p, 2u * n);
            p += 2u * n;
            return true;
        };
        uint32_t line = 0;
        event.decoded = u32(event.processId) && u32(event.threadId) && counted(event.executable) &&
                        counted(event.file) && counted(event.function) && u32(line) && counted(event.folder) &&
                        counted(event.version) && counted(event.group) && p + 8 == end;
        if (event.decoded) {
            event.line = static_cast<int32_t>(line);
            std::memcpy(&event.textLength, p, 8);
        }
        event.text.assign(reinterpret_cast<const char*>(static_cast<uintptr_t>(fields[1].DataPtr)), fields[1].Length);
        events.push_back(event);
        return ERROR_INVALID_HANDLE;
    }
    DWORD LastError() override { return lastError; }

    // Plays a session's request through the registered callback.
    ULONG control(WMIDPREQUESTCODE code, TRACEHANDLE* session)
    {
        return callback(code, context, nullptr, session);
    }

    ULONG registerResult = 0;
    TRACEHANDLE registrationHandleToGive = 0x1234;
    int registerCalls = 0;
    WMIDPREQUEST callback = nullptr;
    void* context = nullptr;
    GUID providerGuid = {};
    GUID eventClassGuid = {};
    ULONG registeredGuidCount = 0;
    std::vector<TRACEHANDLE> unregistered;
    std::map<TRACEHANDLE, UCHAR> levels;
    DWORD lastError = 0;
    std::vector<Event> events;
};

} // namespace EtwTestDoubles

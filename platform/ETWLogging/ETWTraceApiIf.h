#pragma once
#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

#include <memory>

namespace ETWLogging {

// The six classic-provider calls of the ETW logger, so that its provider logic
// can run against a recording double (sessions never enable a provider under
// every test environment).
class ETWTraceApiIf {
public:
    virtual ~ETWTraceApiIf() = default;
    virtual ULONG RegisterGuids(WMIDPREQUEST callback, void* context, const GUID* controlGuid, ULONG guidCount,
                                TRACE_GUID_REGISTRATION* registrations, TRACEHANDLE* registrationHandle) = 0;
    virtual ULONG UnregisterGuids(TRACEHANDLE registrationHandle) = 0;
    // INVALID_HANDLE_VALUE (as a TRACEHANDLE) when the buffer holds none.
    virtual TRACEHANDLE LoggerHandle(void* buffer) = 0;
    virtual UCHAR EnableLevel(TRACEHANDLE loggerHandle) = 0;
    virtual ULONG EnableFlags(TRACEHANDLE loggerHandle) = 0;
    virtual ULONG Trace(TRACEHANDLE loggerHandle, EVENT_TRACE_HEADER* header) = 0;
    // The thread's last error after one of the calls above.
    virtual DWORD LastError() = 0;
};

// The system's own calls.
class CETWTraceApi : public ETWTraceApiIf {
public:
    ULONG RegisterGuids(WMIDPREQUEST callback, void* context, const GUID* controlGuid, ULONG guidCount,
                        TRACE_GUID_REGISTRATION* registrations, TRACEHANDLE* registrationHandle) override;
    ULONG UnregisterGuids(TRACEHANDLE registrationHandle) override;
    TRACEHANDLE LoggerHandle(void* buffer) override;
    UCHAR EnableLevel(TRACEHANDLE loggerHandle) override;
    ULONG EnableFlags(TRACEHANDLE loggerHandle) override;
    ULONG Trace(TRACEHANDLE loggerHandle, EVENT_TRACE_HEADER* header) override;
    DWORD LastError() override;
};

constexpr TRACEHANDLE kInvalidTraceHandle = static_cast<TRACEHANDLE>(-1);

} // namespace ETWLogging

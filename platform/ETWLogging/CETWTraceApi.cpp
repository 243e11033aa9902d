#include "ETWLogging/ETWTraceApiIf.h"

namespace ETWLogging {

ULONG CETWTraceApi::RegisterGuids(WMIDPREQUEST callback, void* context, const GUID* controlGuid, ULONG guidCount,
                                  TRACE_GUID_REGISTRATION* registrations, TRACEHANDLE* registrationHandle)
{
    return RegisterTraceGuidsW(callback, context, controlGuid, guidCount, registrations, nullptr, nullptr,
                               registrationHandle);
}

ULONG CETWTraceApi::UnregisterGuids(TRACEHANDLE registrationHandle)
{
    return UnregisterTraceGuids(registrationHandle);
}

TRACEHANDLE CETWTraceApi::LoggerHandle(void* buffer)
{
    return GetTraceLoggerHandle(buffer);
}

UCHAR CETWTraceApi::EnableLevel(TRACEHANDLE loggerHandle)
{
    return GetTraceEnableLevel(loggerHandle);
}

ULONG CETWTraceApi::EnableFlags(TRACEHANDLE loggerHandle)
{
    return GetTraceEnableFlags(loggerHandle);
}

ULONG CETWTraceApi::Trace(TRACEHANDLE loggerHandle, EVENT_TRACE_HEADER* header)
{
    return TraceEvent(loggerHandle, header);
}

DWORD CETWTraceApi::LastError()
{
    return GetLastError();
}

} // namespace ETWLogging

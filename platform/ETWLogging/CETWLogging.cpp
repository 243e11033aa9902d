#include "ETWLogging/CETWLogging.h"
#include "ETWLogging/CETWConfigurationListener.h"
#include "ETWLogging/CEventPayload.h"
#include "ETWLogging/ModuleVersionInfo.h"
#include "FormatString.h"
#include "Logging/CDefaultLogBuilder.h"

#include <cstring>
#include <cwchar>
#include <new>
#include <stdexcept>

namespace ETWLogging {

namespace {

bool isEmpty(const wchar_t* text)
{
    return text && *text == L'\0';
}

wchar_t* copyOf(const std::wstring& text)
{
    wchar_t* copy = new (std::nothrow) wchar_t[text.size() + 1];
    if (copy)
        std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    return copy;
}

size_t lengthOf(const wchar_t* text)
{
    return text ? wcslen(text) : 0;
}

} // namespace

CETWLogging::CETWLogging(std::shared_ptr<ETWTraceApiIf> api) : m_api(std::move(api))
{
    if (!m_api)
        m_api = std::make_shared<CETWTraceApi>();
}

CETWLogging::~CETWLogging()
{
    if (m_registered.load())
        Shutdown();
    delete m_listener;
    m_listener = nullptr;
}

uint32_t CETWLogging::Init(const wchar_t* group, HMODULE module, const wchar_t* host,
                           LoggingConfigListenerIf* listener)
{
    return InitEx(nullptr, group, module, host, listener);
}

uint32_t CETWLogging::InitEx(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                             LoggingConfigListenerIf* listener)
{
    if (m_registered.load())
        return LOG_STATUS_ALREADY_INITIALIZED;
    if (isEmpty(group) || isEmpty(host))
        return ERROR_INVALID_PARAMETER;
    try {
        m_group = group ? group : L"";
        m_host = host ? host : L"";
        if (!m_properties.Load(app))
            return ERROR_INVALID_PARAMETER;

        m_executableName = GetModuleName(nullptr, true);
        m_moduleBaseName = GetModuleName(module, false);
        ComposeQualifiedName();

        delete m_listener;
        m_listener = nullptr;
        if (listener) {
            m_listener = listener;
        } else {
            auto* own = new CETWConfigurationListener(m_properties);
            own->Attach(this);
            m_listener = own;
            own->OnConfigurationChanged(true, LOG_LEVEL_INFORMATION, 0);
        }

        m_processId = GetCurrentProcessId();
        const ModuleVersionInfo& info = LoadModuleVersionInfo();
        m_moduleFolder = info.folder;
        m_moduleVersion = info.version;
        SetEventClassGuid(kEventClassGuid);
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

std::wstring CETWLogging::GetModuleName(HMODULE module, bool keepExtension)
{
    std::wstring name = GetModuleFileNameString(module);
    const size_t slash = name.rfind(L'\\');
    if (slash != std::wstring::npos)
        name.erase(0, slash + 1);
    if (!keepExtension) {
        const size_t dot = name.rfind(L'.');
        if (dot != std::wstring::npos)
            name.erase(dot);
    }
    return name;
}

void CETWLogging::ComposeQualifiedName()
{
    m_qualifiedName = m_group;
    if (!m_moduleBaseName.empty())
        m_qualifiedName += L"\\" + m_moduleBaseName;
}

void CETWLogging::GetQualifiedName(wchar_t** name)
{
    if (name)
        *name = copyOf(m_qualifiedName);
}

void CETWLogging::GetGroupName(wchar_t** name)
{
    if (name)
        *name = copyOf(m_group);
}

uint32_t CETWLogging::Register()
{
    if (m_registered.load())
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(m_registration);
    if (m_registered.load())
        return ERROR_SUCCESS;
    TRACE_GUID_REGISTRATION registration = {&m_eventClassGuid, nullptr};
    TRACEHANDLE handle = 0;
    const ULONG result =
        m_api->RegisterGuids(&CETWLogging::ControlCallback, this, &m_properties.providerGuid, 1, &registration, &handle);
    if (m_registrationHandle != 0)
        m_api->UnregisterGuids(m_registrationHandle);
    m_registrationHandle = result == ERROR_SUCCESS ? handle : 0;
    // A failed registration is reported once; later writes go on and are
    // dropped by the trace call.
    m_registered.store(true);
    return result;
}

ULONG CETWLogging::UnregisterProvider()
{
    std::lock_guard<std::mutex> lock(m_registration);
    if (m_registrationHandle == 0)
        return ERROR_SUCCESS;
    const ULONG result = m_api->UnregisterGuids(m_registrationHandle);
    m_registrationHandle = 0;
    m_registered.store(false);
    return result;
}

ULONG CETWLogging::Shutdown()
{
    SetEnabled(false);
    return UnregisterProvider();
}

uint32_t CETWLogging::Uninit()
{
    if (!m_registered.load())
        return ERROR_SUCCESS;
    const ULONG result = Shutdown();
    if (result == ERROR_SUCCESS)
        m_registered.store(false);
    return result;
}

bool CETWLogging::IsOwnTraceHandle(TRACEHANDLE handle)
{
    return handle != 0 && handle == m_traceHandle.load();
}

ULONG WINAPI CETWLogging::ControlCallback(WMIDPREQUESTCODE code, void* context, ULONG*, void* buffer)
{
    if (!context)
        return ERROR_INVALID_PARAMETER;
    return static_cast<CETWLogging*>(context)->OnControl(code, buffer);
}

ULONG CETWLogging::OnControl(WMIDPREQUESTCODE code, void* buffer)
{
    switch (code) {
    case WMI_ENABLE_EVENTS: {
        const TRACEHANDLE handle = m_api->LoggerHandle(buffer);
        if (handle == kInvalidTraceHandle)
            return m_api->LastError();
        const TRACEHANDLE stored = m_traceHandle.load();
        if (stored != 0 && stored != handle)
            return ERROR_SUCCESS; // only the first session counts
        // The level first: a request that fails here leaves everything as it was.
        const UCHAR level = m_api->EnableLevel(handle);
        if (level == 0)
            return m_api->LastError();
        const ULONG flags = m_api->EnableFlags(handle);
        m_traceHandle.store(handle);
        if (m_listener)
            m_listener->OnConfigurationChanged(true, level, flags);
        return ERROR_SUCCESS;
    }
    case WMI_DISABLE_EVENTS: {
        if (m_listener)
            m_listener->OnConfigurationChanged(false, GetSeverity(), 0);
        const TRACEHANDLE handle = m_api->LoggerHandle(buffer);
        if (handle != kInvalidTraceHandle && IsOwnTraceHandle(handle))
            m_traceHandle.store(0);
        return ERROR_SUCCESS;
    }
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

void CETWLogging::SetSeverity(uint32_t level)
{
    m_severity.store(level < LOG_LEVEL_NORMAL ? LOG_LEVEL_NORMAL
                                              : (level > LOG_LEVEL_INFORMATION_EX ? LOG_LEVEL_INFORMATION_EX : level));
}

bool CETWLogging::IsLevelEnabled(uint32_t level)
{
    return level >= m_severity.load() || level == LOG_LEVEL_INFORMATION;
}

uint8_t CETWLogging::MapLevel(uint32_t level)
{
    return (level >= 1 && level <= 5) ? static_cast<uint8_t>(level) : static_cast<uint8_t>(LOG_LEVEL_INFORMATION);
}

uint32_t CETWLogging::LogV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                           const wchar_t* format, va_list args)
{
    if (!format)
        return ERROR_INVALID_PARAMETER;
    if (!IsEnabled() || !IsLevelEnabled(level))
        return ERROR_SUCCESS;

    wchar_t text[kEventTextCapacity];
    int formatted = Halvex::FormatBufferV(text, kEventTextCapacity, format, args);
    if (formatted < 0) // a format the formatter refuses is sent as written
        formatted = Halvex::FormatBuffer(text, kEventTextCapacity, L"%s", format);
    // A cut text is sent whole with its terminator; an empty one as no bytes.
    const size_t count = formatted < 0 ? 0 : (static_cast<size_t>(formatted) >= kEventTextCapacity
                                                  ? kEventTextCapacity
                                                  : static_cast<size_t>(formatted));

    const int needed = count == 0 ? 0
                                  : WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), nullptr, 0,
                                                        nullptr, nullptr);
    const size_t utf8Size = needed > 0 ? static_cast<size_t>(needed) : 0;
    std::unique_ptr<char[]> heap;
    char* utf8 = reinterpret_cast<char*>(text + count);
    if (utf8Size > (kEventTextCapacity - count) * sizeof(wchar_t)) {
        heap.reset(new char[utf8Size]);
        utf8 = heap.get();
    }
    if (utf8Size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(count), utf8, static_cast<int>(utf8Size), nullptr,
                            nullptr);

    CEventPayload payload;
    payload.AppendU32(m_processId);
    payload.AppendU32(GetCurrentThreadId());
    payload.AppendCounted(m_executableName);
    payload.AppendCounted(file, lengthOf(file));
    payload.AppendCounted(function, lengthOf(function));
    payload.AppendI32(line);
    payload.AppendCounted(m_moduleFolder);
    payload.AppendCounted(m_moduleVersion);
    payload.AppendCounted(m_group);
    payload.AppendU64(utf8Size);

    ETWEventRecord record;
    std::memset(&record, 0, sizeof(record));
    record.header.Size = sizeof(record);
    record.header.Class.Type = 1;
    record.header.Class.Level = MapLevel(level);
    record.header.Class.Version = 2;
    record.header.Guid = m_eventClassGuid;
    record.header.Flags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;
    record.fields[0].DataPtr = reinterpret_cast<ULONG64>(payload.Data());
    record.fields[0].Length = static_cast<ULONG>(payload.Size());
    record.fields[1].DataPtr = reinterpret_cast<ULONG64>(utf8);
    record.fields[1].Length = static_cast<ULONG>(utf8Size);
    // Without an enabling session the handle is 0 and nothing is recorded.
    m_api->Trace(m_traceHandle.load(), &record.header);
    return ERROR_SUCCESS;
}

uint32_t CETWLogging::LogEx(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                            const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const uint32_t result = LogV(level, file, function, line, format, args);
    va_end(args);
    return result;
}

uint32_t CETWLogging::WriteString(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                                  const wchar_t* text)
{
    return LogEx(level, file, function, line, L"%s", text ? text : L"");
}

uint32_t CETWLogging::Write(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                            const wchar_t* text)
{
    WriteString(level, file, function, line, text);
    return ERROR_SUCCESS;
}

void CETWLogging::Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                      const wchar_t* format, ...)
{
    if (!IsEnabled() || !IsLevelEnabled(level) || !format || !*format)
        return;
    va_list args;
    va_start(args, format);
    std::wstring text;
    try {
        Halvex::FormatStringV(text, format, args);
    } catch (const std::length_error&) {
        text = format;
    }
    va_end(args);
    WriteString(level, file, function, line, text.c_str());
}

bool CreateETWLogger(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                     CLoggingIf** out)
{
    if (!out || *out || isEmpty(group) || isEmpty(host))
        return false;
    auto* logger = new (std::nothrow) CETWLogging();
    if (!logger)
        return false;
    if (logger->InitEx(app, group, module, host, nullptr) != ERROR_SUCCESS &&
        logger->Init(group, module, host, nullptr) != ERROR_SUCCESS) {
        delete logger;
        return false;
    }
    logger->AddRef();
    *out = logger;
    return true;
}

} // namespace ETWLogging

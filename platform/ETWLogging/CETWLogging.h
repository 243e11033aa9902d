#pragma once
#include "ETWLogging/ETWAppProperties.h"
#include "ETWLogging/ETWTraceApiIf.h"
#include "Logging/CLoggingIf.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace ETWLogging {

// {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66}
constexpr GUID kEventClassGuid = {0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

// Characters of the text buffer of one event, terminator included.
constexpr size_t kEventTextCapacity = 2080;

// One trace event as handed to the trace call: the header and two fields,
// the context block and the UTF-8 text.
struct ETWEventRecord {
    EVENT_TRACE_HEADER header;
    MOF_FIELD fields[2];
};
static_assert(sizeof(ETWEventRecord) == 80, "the event record is 80 bytes");

// A classic ETW provider: registers on the first write, follows the enabling
// session's level, and sends each message as one event carrying the process,
// thread, executable, source place, module folder and version, group and
// the text in UTF-8. Not reference-counted.
class CETWLogging : public CLoggingIf_ex {
public:
    // An empty api stands for the system's own calls.
    explicit CETWLogging(std::shared_ptr<ETWTraceApiIf> api = {});
    ~CETWLogging() override;
    CETWLogging(const CETWLogging&) = delete;
    CETWLogging& operator=(const CETWLogging&) = delete;

    uint32_t Init(const wchar_t* group, HMODULE module, const wchar_t* host,
                  LoggingConfigListenerIf* listener) override;
    uint32_t Register() override;
    // *name receives a copy made with new[] (the caller deletes it with
    // delete[]); null when it cannot be made.
    void GetQualifiedName(wchar_t** name) override;
    void GetGroupName(wchar_t** name) override;
    uint32_t Uninit() override;
    void SetEnabled(bool enabled) override { m_enabled.store(enabled ? 1 : 0); }
    bool IsEnabled() override { return m_enabled.load() != 0; }
    void Log(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
             ...) override;
    uint32_t Write(const wchar_t* file, const wchar_t* function, int32_t line, uint32_t level,
                   const wchar_t* text) override;
    // Level 3 always passes.
    bool IsLevelEnabled(uint32_t level) override;
    void SetMaxEntries(uint32_t) override {}
    uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(uint32_t) override {}
    uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(uint32_t level) override;
    uint32_t GetSeverity() override { return m_severity.load(); }
    uint32_t AddRef() override { return 0; }
    uint32_t Release() override { return 0; }

    // The listener, when given, is owned by the logger from here on.
    uint32_t InitEx(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                    LoggingConfigListenerIf* listener) override;
    uint32_t WriteString(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                         const wchar_t* text) override;
    uint32_t LogV(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line, const wchar_t* format,
                  va_list args) override;
    uint32_t LogEx(uint32_t level, const wchar_t* file, const wchar_t* function, int32_t line,
                   const wchar_t* format, ...) override;

    virtual bool IsOwnTraceHandle(TRACEHANDLE handle);
    // An enable (4) or disable (5) request of a session; 87 for any other.
    virtual ULONG OnControl(WMIDPREQUESTCODE code, void* buffer);
    virtual void SetEventClassGuid(const GUID& guid) { m_eventClassGuid = guid; }
    // The file name of a module (null: the program), with or without the
    // part from its last "."; empty when it cannot be had.
    virtual std::wstring GetModuleName(HMODULE module, bool keepExtension);
    virtual void ComposeQualifiedName();
    virtual ULONG UnregisterProvider();
    virtual ULONG Shutdown();
    // 6 -> 3; anything outside 1..5 -> 3.
    virtual uint8_t MapLevel(uint32_t level);

    static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE code, void* context, ULONG* reserved, void* buffer);

    const std::wstring& GroupName() const { return m_group; }
    const std::wstring& QualifiedName() const { return m_qualifiedName; }
    const std::wstring& ExecutableName() const { return m_executableName; }
    const internal::ETWAppProperties& Properties() const { return m_properties; }
    TRACEHANDLE TraceHandle() const { return m_traceHandle.load(); }

private:
    std::atomic<bool> m_registered{false};
    std::mutex m_registration;
    DWORD m_processId = 0;
    GUID m_eventClassGuid = kEventClassGuid;
    LoggingConfigListenerIf* m_listener = nullptr;
    std::atomic<uint32_t> m_enabled{1};
    std::atomic<uint32_t> m_severity{3};
    std::wstring m_group;
    std::wstring m_host;
    std::wstring m_executableName;
    std::wstring m_moduleBaseName;
    std::wstring m_qualifiedName;
    std::wstring m_moduleFolder;
    std::wstring m_moduleVersion;
    std::atomic<TRACEHANDLE> m_traceHandle{0};
    TRACEHANDLE m_registrationHandle = 0;
    internal::ETWAppProperties m_properties;
    std::shared_ptr<ETWTraceApiIf> m_api;
};

} // namespace ETWLogging

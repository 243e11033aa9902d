// A product's alert plugin: the four exports of the framework family and the
// six-entry plugin table. It behaves as the process environment says, read on
// every call, and appends what it was called with to a journal file, so that
// a test still reads it after the library was freed.
//
//   PLUGIN_DOUBLE_JOURNAL          journal file (UTF-8 lines "<file>|<call>|<details>")
//   PLUGIN_DOUBLE_CREATE_OBJECT    "null": CreateObject refuses; "hole": its table lacks FreeAlertContent
//   PLUGIN_DOUBLE_CREATE_STATUS    CreatePluginInstance's status (decimal or 0x...; unset: 0)
//   PLUGIN_DOUBLE_DESTROY_STATUS   DestroyPluginInstance's status
//   PLUGIN_DOUBLE_PROCESS_STATUS   ProcessAlert's status
//   PLUGIN_DOUBLE_SUPPRESS         "1": ProcessAlert sets the suppress flag
//   PLUGIN_DOUBLE_JSON             ProcessAlert's output JSON (unset: its input, unchanged)
//   PLUGIN_DOUBLE_EXTRA            ProcessAlert's extra text (unset: empty)
//   PLUGIN_DOUBLE_CONTENT_STATUS   GetAlertContent's status
//   PLUGIN_DOUBLE_CONTENT          the content, "{viewer}" replaced by the viewer (unset: "content for {viewer}")
//   PLUGIN_DOUBLE_NULL_OUTPUTS     "1": a successful call hands out null outputs
//   PLUGIN_DOUBLE_ENTERED          named event set when ProcessAlert or GetAlertContent is entered
//   PLUGIN_DOUBLE_RELEASE          named event those calls wait for (at most 10 s) before they return
//   PLUGIN_DOUBLE_THROW_FROM       the entry that throws instead of answering ("CreateObject",
//                                  "ProcessAlert", ... as the table names them); it throws after its
//                                  journal line and, for ProcessAlert, after setting the suppress flag
//   PLUGIN_DOUBLE_THROW            what it throws: "std" a std::runtime_error, "int" the int 42
//   PLUGIN_DOUBLE_THROW_AFTER      "1": CreatePluginInstance, ProcessAlert and GetAlertContent throw
//                                  only once they have written their outputs
//
// After a failure the outputs point to a text the plugin never hands out, so
// a caller that reads or frees them is seen.
#include "AlertPluginApi.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>

namespace {

struct Instance {
    uint32_t magic;
    unsigned number;
};

const uint32_t kInstanceMagic = 0x504C4744;
wchar_t g_notHandedOut[] = L"never handed out";

std::mutex g_lock;
std::set<const wchar_t*> g_outputs;
unsigned g_instances = 0;

std::wstring environment(const wchar_t* name, bool* present = nullptr)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (present)
        *present = needed > 0;
    if (needed == 0)
        return std::wstring();
    std::wstring value(needed, L'\0');
    const DWORD written = GetEnvironmentVariableW(name, &value[0], needed);
    value.resize(written < needed ? written : 0);
    return value;
}

uint32_t status(const wchar_t* name)
{
    const std::wstring text = environment(name);
    return text.empty() ? 0 : static_cast<uint32_t>(std::wcstoul(text.c_str(), nullptr, 0));
}

std::wstring ownFileName()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ownFileName), &self);
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    const std::wstring full(path, length <= MAX_PATH ? length : 0);
    const size_t slash = full.rfind(L'\\');
    return slash == std::wstring::npos ? full : full.substr(slash + 1);
}

void journal(const std::wstring& call, const std::wstring& details = std::wstring())
{
    const std::wstring file = environment(L"PLUGIN_DOUBLE_JOURNAL");
    if (file.empty())
        return;
    const std::wstring line = ownFileName() + L"|" + call + L"|" + details + L"\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), &utf8[0], bytes, nullptr, nullptr);
    std::lock_guard<std::mutex> guard(g_lock);
    HANDLE handle = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    CloseHandle(handle);
}

std::wstring describe(ALERT_PLUGIN_INSTANCE handle)
{
    const Instance* instance = static_cast<const Instance*>(handle);
    if (!instance || instance->magic != kInstanceMagic)
        return L"#?";
    return L"#" + std::to_wstring(instance->number);
}

wchar_t* handOut(const std::wstring& text)
{
    if (environment(L"PLUGIN_DOUBLE_NULL_OUTPUTS") == L"1")
        return nullptr;
    wchar_t* copy = new wchar_t[text.size() + 1];
    text.copy(copy, text.size());
    copy[text.size()] = L'\0';
    std::lock_guard<std::mutex> guard(g_lock);
    g_outputs.insert(copy);
    return copy;
}

// True when the text was handed out and not yet returned; frees it then.
bool takeBack(wchar_t* text)
{
    if (!text)
        return environment(L"PLUGIN_DOUBLE_NULL_OUTPUTS") == L"1";
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_outputs.erase(text) == 0)
        return false;
    delete[] text;
    return true;
}

// The slow part of a call, when the test asks for one.
void holdIfAsked()
{
    const std::wstring entered = environment(L"PLUGIN_DOUBLE_ENTERED");
    if (!entered.empty()) {
        if (HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, entered.c_str())) {
            SetEvent(event);
            CloseHandle(event);
        }
    }
    const std::wstring release = environment(L"PLUGIN_DOUBLE_RELEASE");
    if (!release.empty()) {
        if (HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, release.c_str())) {
            WaitForSingleObject(event, 10000);
            CloseHandle(event);
        }
    }
}

// A plugin whose code fails the way C++ code can: nothing in the contract
// stops an exception at the plugin's side of the table.
void throwIfAsked(const wchar_t* entry, bool handedOut = false)
{
    if (environment(L"PLUGIN_DOUBLE_THROW_FROM") != entry)
        return;
    if ((environment(L"PLUGIN_DOUBLE_THROW_AFTER") == L"1") != handedOut)
        return;
    const std::wstring kind = environment(L"PLUGIN_DOUBLE_THROW");
    journal(L"throw", std::wstring(entry) + L"|" + kind);
    if (kind == L"int")
        throw 42;
    if (kind == L"std")
        throw std::runtime_error("plugin double failed on purpose");
}

uint32_t CreatePluginInstance(ALERT_PLUGIN_INSTANCE* handle, const wchar_t* objectName)
{
    throwIfAsked(L"CreatePluginInstance");
    const uint32_t result = status(L"PLUGIN_DOUBLE_CREATE_STATUS");
    if (result != 0) {
        journal(L"CreatePluginInstance", std::wstring(objectName ? objectName : L"(null)") + L"|failed");
        return result;
    }
    Instance* instance = new Instance{kInstanceMagic, 0};
    {
        std::lock_guard<std::mutex> guard(g_lock);
        instance->number = ++g_instances;
    }
    *handle = instance;
    journal(L"CreatePluginInstance", std::wstring(objectName ? objectName : L"(null)") + L"|" + describe(instance));
    throwIfAsked(L"CreatePluginInstance", true);
    return 0;
}

uint32_t DestroyPluginInstance(ALERT_PLUGIN_INSTANCE handle)
{
    journal(L"DestroyPluginInstance", describe(handle));
    throwIfAsked(L"DestroyPluginInstance");
    Instance* instance = static_cast<Instance*>(handle);
    if (instance && instance->magic == kInstanceMagic) {
        instance->magic = 0;
        delete instance;
    }
    return status(L"PLUGIN_DOUBLE_DESTROY_STATUS");
}

uint32_t ProcessAlert(ALERT_PLUGIN_INSTANCE instance, const wchar_t* alertJson, wchar_t** outJson, uint32_t* suppress,
                      wchar_t** outExtra)
{
    const std::wstring input = alertJson ? alertJson : L"(null)";
    journal(L"ProcessAlert", describe(instance) + L"|flag=" + std::to_wstring(*suppress) + L"|" + input);
    holdIfAsked();
    if (environment(L"PLUGIN_DOUBLE_SUPPRESS") == L"1")
        *suppress = 1;
    throwIfAsked(L"ProcessAlert");
    const uint32_t result = status(L"PLUGIN_DOUBLE_PROCESS_STATUS");
    if (result != 0) {
        *outJson = g_notHandedOut;
        *outExtra = g_notHandedOut;
    } else {
        bool rewritten = false;
        const std::wstring json = environment(L"PLUGIN_DOUBLE_JSON", &rewritten);
        *outJson = handOut(rewritten ? json : input);
        *outExtra = handOut(environment(L"PLUGIN_DOUBLE_EXTRA"));
    }
    throwIfAsked(L"ProcessAlert", true);
    journal(L"ProcessAlert.end", std::to_wstring(result));
    return result;
}

void FreeProcessAlertResult(wchar_t* outJson, wchar_t* outExtra)
{
    const bool json = takeBack(outJson);
    const bool extra = takeBack(outExtra);
    journal(L"FreeProcessAlertResult", json && extra ? L"ok" : L"foreign");
    throwIfAsked(L"FreeProcessAlertResult");
}

uint32_t GetAlertContent(ALERT_PLUGIN_INSTANCE instance, const wchar_t* alertJson, const wchar_t* viewerName,
                         wchar_t** outContent)
{
    const std::wstring viewer = viewerName ? viewerName : L"(null)";
    journal(L"GetAlertContent", describe(instance) + L"|" + viewer + L"|" + (alertJson ? alertJson : L"(null)"));
    holdIfAsked();
    throwIfAsked(L"GetAlertContent");
    const uint32_t result = status(L"PLUGIN_DOUBLE_CONTENT_STATUS");
    if (result != 0) {
        *outContent = g_notHandedOut;
    } else {
        bool present = false;
        std::wstring content = environment(L"PLUGIN_DOUBLE_CONTENT", &present);
        if (!present)
            content = L"content for {viewer}";
        const std::wstring marker = L"{viewer}";
        for (size_t at = content.find(marker); at != std::wstring::npos; at = content.find(marker, at + viewer.size()))
            content.replace(at, marker.size(), viewer);
        *outContent = handOut(content);
    }
    throwIfAsked(L"GetAlertContent", true);
    journal(L"GetAlertContent.end", std::to_wstring(result));
    return result;
}

void FreeAlertContent(wchar_t* outContent)
{
    journal(L"FreeAlertContent", takeBack(outContent) ? L"ok" : L"foreign");
    throwIfAsked(L"FreeAlertContent");
}

const AlertPluginApi g_api = {CreatePluginInstance, DestroyPluginInstance, ProcessAlert,
                              FreeProcessAlertResult, GetAlertContent,        FreeAlertContent};
const AlertPluginApi g_holedApi = {CreatePluginInstance, DestroyPluginInstance, ProcessAlert,
                                   FreeProcessAlertResult, GetAlertContent,        nullptr};

} // namespace

extern "C" {

__declspec(dllexport) const AlertPluginApi* CreateObject(uint32_t version)
{
    journal(L"CreateObject", std::to_wstring(version));
    throwIfAsked(L"CreateObject");
    const std::wstring mode = environment(L"PLUGIN_DOUBLE_CREATE_OBJECT");
    if (mode == L"null" || version != ALERT_PLUGIN_API_VERSION)
        return nullptr;
    return mode == L"hole" ? &g_holedApi : &g_api;
}

__declspec(dllexport) void ReleaseObject()
{
}

__declspec(dllexport) const char* GetVersionStr()
{
    return "2.0.0";
}

__declspec(dllexport) uint32_t GetVersionNum()
{
    return 2000000;
}

} // extern "C"

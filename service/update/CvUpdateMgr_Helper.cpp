#include "update/CvUpdateMgr_Helper.h"

#include "UpdateAgent.h"
#include "trust/TrustLoad.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace Kest {

namespace {

const wchar_t* const kSource = L"CvUpdateMgr_Helper";
const wchar_t* const kEventPrefix = L"Global\\{834C46D9-6762-4FF9-8279-2C04C8B1162C}";
const wchar_t* const kPhaseKeyPrefix = L"SOFTWARE\\Corvane\\ZARIRU\\Update\\pkg_";
const wchar_t* const kVolatileKey = L"SOFTWARE\\Corvane\\Volatile";
const wchar_t* const kDefaultRestartKey = L"SOFTWARE\\Corvane\\Volatile\\VLX";

class EventHandle {
public:
    explicit EventHandle(HANDLE handle) : m_handle(handle) {}
    ~EventHandle()
    {
        if (m_handle)
            CloseHandle(m_handle);
    }
    EventHandle(const EventHandle&) = delete;
    EventHandle& operator=(const EventHandle&) = delete;
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

class KeyHandle {
public:
    KeyHandle() = default;
    ~KeyHandle()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    HKEY* out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

struct AgentRelease {
    void operator()(IUpdateAgent* agent) const { agent->Release(); }
};

struct StringFree {
    void operator()(OLECHAR* text) const { SysFreeString(text); }
};

// A size query through `convert(0)`, then, when there is a buffer, the
// conversion into `convert(capacity)`.
template <typename Convert>
DWORD convertText(int length, bool toBuffer, DWORD* size, Convert convert)
{
    if (length == 0) {
        *size = 0;
        return ERROR_SUCCESS;
    }
    int needed = convert(0);
    if (needed <= 0)
        return GetLastError();
    if (!toBuffer || *size < static_cast<DWORD>(needed)) {
        const bool shortBuffer = toBuffer;
        *size = static_cast<DWORD>(needed);
        return shortBuffer ? ERROR_MORE_DATA : ERROR_SUCCESS;
    }
    int written = convert(needed);
    if (written <= 0) {
        DWORD error = GetLastError();
        return error == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : error;
    }
    *size = static_cast<DWORD>(written);
    return ERROR_SUCCESS;
}

// The name in the ANSI code page, refused when the code page cannot hold it:
// a name with substituted characters would name another key.
DWORD toAnsiExactly(const wchar_t* text, std::string& out)
{
    DWORD size = 0;
    DWORD error = CCvUpdateMgr_Helper::WideToNarrow(text, -1, nullptr, &size);
    if (error != ERROR_SUCCESS)
        return error;
    out.assign(size, '\0');
    error = CCvUpdateMgr_Helper::WideToNarrow(text, -1, &out[0], &size);
    if (error != ERROR_SUCCESS)
        return error;
    DWORD back = 0;
    error = CCvUpdateMgr_Helper::NarrowToWide(out.c_str(), -1, nullptr, &back);
    if (error != ERROR_SUCCESS)
        return error;
    std::wstring roundTrip(back, L'\0');
    error = CCvUpdateMgr_Helper::NarrowToWide(out.c_str(), -1, &roundTrip[0], &back);
    if (error != ERROR_SUCCESS)
        return error;
    if (wcscmp(roundTrip.c_str(), text) != 0)
        return ERROR_NO_UNICODE_TRANSLATION;
    out.resize(strlen(out.c_str()));
    return ERROR_SUCCESS;
}

// Reads the whole raw value; the value may grow between the size query and
// the read, so that is tried again a few times.
DWORD queryRaw(HKEY key, const char* name, DWORD& type, std::vector<char>& bytes)
{
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        LONG error = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (error != ERROR_SUCCESS)
            return static_cast<DWORD>(error);
        bytes.assign(size, '\0');
        error = RegQueryValueExA(key, name, nullptr, &type, bytes.empty() ? nullptr : reinterpret_cast<BYTE*>(bytes.data()),
                                 &size);
        if (error == ERROR_SUCCESS) {
            bytes.resize(size);
            return ERROR_SUCCESS;
        }
        if (error != ERROR_MORE_DATA)
            return static_cast<DWORD>(error);
    }
    return ERROR_MORE_DATA;
}

// A string value's bytes as UTF-16 with its terminators: one for REG_SZ,
// every string's and the final extra one for REG_MULTI_SZ.
DWORD stringToWide(DWORD type, std::vector<char> bytes, std::wstring& out)
{
    if (type == REG_SZ) {
        bytes.resize(strnlen(bytes.data(), bytes.size()));
        bytes.push_back('\0');
    } else {
        if (bytes.empty() || bytes.back() != '\0')
            bytes.push_back('\0');
        if (bytes.size() > 1 && bytes[bytes.size() - 2] != '\0')
            bytes.push_back('\0');
    }
    DWORD size = 0;
    DWORD error = CCvUpdateMgr_Helper::NarrowToWide(bytes.data(), static_cast<int>(bytes.size()), nullptr, &size);
    if (error != ERROR_SUCCESS)
        return error;
    out.assign(size, L'\0');
    return CCvUpdateMgr_Helper::NarrowToWide(bytes.data(), static_cast<int>(bytes.size()), &out[0], &size);
}

// Copies `bytes` into the caller's buffer, or zero-fills a buffer that is too
// small; `size` receives the bytes the value takes.
DWORD deliver(const void* bytes, DWORD needed, BYTE* data, DWORD* size)
{
    DWORD capacity = *size;
    *size = needed;
    if (!data)
        return ERROR_SUCCESS;
    if (capacity < needed) {
        memset(data, 0, capacity);
        return ERROR_MORE_DATA;
    }
    if (needed)
        memcpy(data, bytes, needed);
    return ERROR_SUCCESS;
}

} // namespace

std::wstring CCvUpdateMgr_Helper::EventName() const
{
    return std::wstring(kEventPrefix) + m_updateName;
}

HRESULT CCvUpdateMgr_Helper::CancelUpdate()
{
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"CCvUpdateMgr_Helper::CancelUpdate", L"Cancelling updates...");
    IUpdateAgent* raw = nullptr;
    HRESULT hr = TrustCoCreateInstance(CLSID_UpdateAgent, nullptr, CLSCTX_INPROC_SERVER, IID_IUpdateAgent,
                                       reinterpret_cast<void**>(&raw), TRUE);
    // A server that claims success without an object is a failure too.
    if (SUCCEEDED(hr) && !raw)
        hr = E_POINTER;
    if (FAILED(hr)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"CCvUpdateMgr_Helper::CancelUpdate",
                L"Failed to create update agent object. hr = 0x%08x", static_cast<unsigned>(hr));
        return hr;
    }
    std::unique_ptr<IUpdateAgent, AgentRelease> agent(raw);
    std::unique_ptr<OLECHAR, StringFree> name(SysAllocString(m_updateName));
    if (!name)
        throw std::bad_alloc();
    return agent->CancelUpdates(name.get());
}

HRESULT CCvUpdateMgr_Helper::CancelUpdate2(BOOL* sent)
{
    if (!sent) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"CCvUpdateMgr_Helper::CancelUpdate2", L"Invalid parameter!");
        return E_POINTER;
    }
    HRESULT hr = CancelUpdate();
    if (FAILED(hr)) {
        *sent = 0;
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"CCvUpdateMgr_Helper::CancelUpdate2",
                L"Failed to send cancel request. hr = 0x%08x", static_cast<unsigned>(hr));
        return hr;
    }
    *sent = 1;
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"CCvUpdateMgr_Helper::CancelUpdate2",
            L"Successfully send cancel request");
    return hr;
}

HRESULT CCvUpdateMgr_Helper::IsUpdateRunning(BOOL* running)
{
    if (!running) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning", L"Invalid parameter!");
        return E_POINTER;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning",
            L"Checking if an update is currently running....");
    EventHandle event(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, EventName().c_str()));
    // An event that exists but refuses this caller still says an update runs.
    const bool exists = event.get() || GetLastError() == ERROR_ACCESS_DENIED;
    if (exists) {
        *running = 1;
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning",
                L"An update is running.");
    } else {
        *running = 0;
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning",
                L"An update is NOT running.");
    }
    return S_OK;
}

HRESULT CCvUpdateMgr_Helper::IsUpdateRunning2(BOOL* running, DWORD* phase)
{
    if (!running || !phase) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning2",
                L"The pbRunning or pbRemindPending or pdwPhase is invalid!");
        return E_POINTER;
    }
    HRESULT hr = IsUpdateRunning(running);
    if (FAILED(hr) || !*running)
        return S_OK;

    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    const std::wstring key = kPhaseKeyPrefix + std::wstring(m_updateName);
    DWORD error = ReadRegistryValue(key.c_str(), L"phase", &type, reinterpret_cast<BYTE*>(&value), &size);
    // A value of another type is reported as such even when it did not fit,
    // and none of its bytes is taken for a phase.
    const bool wrongType = (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && type != REG_DWORD;
    if (wrongType || error != ERROR_SUCCESS) {
        value = 0;
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"CCvUpdateMgr_Helper::IsUpdateRunning2",
                L"Failed to read update phase from the registry - error %d", wrongType ? 0 : static_cast<int>(error));
    }
    *phase = value;
    return S_OK;
}

HRESULT CCvUpdateMgr_Helper::IsRestartPending(BOOL* pending)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"CCvUpdateMgr_Helper::IsRestartPending",
            L"Checking if restart is pending...");
    if (!pending) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"CCvUpdateMgr_Helper::IsRestartPending",
                L"The pbPending parameter is invalid!");
        return E_POINTER;
    }
    *pending = 0;
    const std::wstring key = wcscmp(m_updateName, L"default") == 0
                                 ? std::wstring(kDefaultRestartKey)
                                 : std::wstring(kVolatileKey) + L"\\" + m_updateName;
    DWORD value = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    DWORD error = ReadRegistryValue(key.c_str(), L"IsRestartPending", &type, reinterpret_cast<BYTE*>(&value), &size);
    if ((error == ERROR_SUCCESS || error == ERROR_MORE_DATA) && type != REG_DWORD) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"CCvUpdateMgr_Helper::IsRestartPending",
                L"Invalid value type");
    } else if (error != ERROR_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"CCvUpdateMgr_Helper::IsRestartPending",
                L"Failed to read IsRestartPending value from registry - error %d", static_cast<int>(error));
    } else if (value == 1) {
        *pending = 1;
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"CCvUpdateMgr_Helper::IsRestartPending",
                L"Restart is pending");
        return S_OK;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"CCvUpdateMgr_Helper::IsRestartPending", L"No restart is pending");
    return S_OK;
}

HRESULT CCvUpdateMgr_Helper::RemindRestart()
{
    EventHandle event(OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, EventName().c_str()));
    if (!event.get()) {
        DWORD error = GetLastError();
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"CCvUpdateMgr_Helper::RemindRestart",
                L"Failed to open remind restart event - error %d", static_cast<int>(error));
        return E_FAIL;
    }
    SetEvent(event.get());
    return S_OK;
}

DWORD CCvUpdateMgr_Helper::ReadRegistryValue(const wchar_t* subkey, const wchar_t* valueName, DWORD* type, BYTE* data,
                                             DWORD* size)
{
    if (!subkey || !valueName || !size)
        return ERROR_INVALID_PARAMETER;
    std::string narrowKey;
    std::string narrowName;
    DWORD error = toAnsiExactly(subkey, narrowKey);
    if (error == ERROR_SUCCESS)
        error = toAnsiExactly(valueName, narrowName);
    if (error != ERROR_SUCCESS)
        return error == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : error;

    KeyHandle key;
    LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, narrowKey.c_str(), 0, KEY_READ, key.out());
    if (opened != ERROR_SUCCESS)
        return static_cast<DWORD>(opened);
    DWORD valueType = REG_NONE;
    std::vector<char> bytes;
    error = queryRaw(key.get(), narrowName.c_str(), valueType, bytes);
    if (error != ERROR_SUCCESS)
        return error;
    if (type)
        *type = valueType;
    if (valueType != REG_SZ && valueType != REG_MULTI_SZ)
        return deliver(bytes.data(), static_cast<DWORD>(bytes.size()), data, size);

    std::wstring wide;
    error = stringToWide(valueType, std::move(bytes), wide);
    if (error != ERROR_SUCCESS)
        return error == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : error;
    return deliver(wide.data(), static_cast<DWORD>(wide.size() * sizeof(wchar_t)), data, size);
}

DWORD CCvUpdateMgr_Helper::WideToNarrow(const wchar_t* text, int length, char* out, DWORD* size)
{
    if (!text || !size)
        return ERROR_INVALID_PARAMETER;
    return convertText(length, out != nullptr, size, [&](int capacity) {
        return WideCharToMultiByte(CP_THREAD_ACP, 0, text, length, capacity ? out : nullptr, capacity, nullptr, nullptr);
    });
}

DWORD CCvUpdateMgr_Helper::NarrowToWide(const char* text, int length, wchar_t* out, DWORD* size)
{
    if (!text || !size)
        return ERROR_INVALID_PARAMETER;
    return convertText(length, out != nullptr, size, [&](int capacity) {
        return MultiByteToWideChar(CP_THREAD_ACP, 0, text, length, capacity ? out : nullptr, capacity);
    });
}

} // namespace Kest

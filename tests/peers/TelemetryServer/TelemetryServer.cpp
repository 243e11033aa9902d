// The telemetry server as the transport sees it. Switches come from the
// environment of the process that loads it:
//   SENTREL_TELEMETRY_CAPTURE    file that every record is appended to, as UTF-16LE,
//                                one record per line
//   SENTREL_TELEMETRY_RESULT     HRESULT (hexadecimal) the send answers; default S_OK
//   SENTREL_TELEMETRY_CREATIONS  file that gets one line per object made: "plain"
//                                through IClassFactory, "trusted" through the
//                                private trusted class factory
// Built with TELEMETRY_SERVER_TRUSTED_FACTORY, the class object is also offered
// as the private trusted class factory, whose creation answers
//   SENTREL_TELEMETRY_TRUSTED_RESULT  HRESULT (hexadecimal) instead of making an
//                                     object; "0" claims success with no object
#include "TelemetryServer.h"

#include <windows.h>

#ifdef TELEMETRY_SERVER_TRUSTED_FACTORY
#include "TrustedComParts.h"
#endif

#include <atomic>
#include <cwchar>
#include <string>

namespace {

std::atomic<long> g_objects{0};

std::wstring environment(const wchar_t* name)
{
    wchar_t buffer[1024];
    const DWORD length = GetEnvironmentVariableW(name, buffer, 1024);
    if (length == 0 || length >= 1024)
        return {};
    return std::wstring(buffer, length);
}

HRESULT configuredResult()
{
    const std::wstring text = environment(L"SENTREL_TELEMETRY_RESULT");
    if (text.empty())
        return S_OK;
    return static_cast<HRESULT>(std::wcstoul(text.c_str(), nullptr, 16));
}

// Appends one line to the file the named variable points at, if any.
void appendLine(const wchar_t* fileVariable, const wchar_t* text, UINT length)
{
    const std::wstring path = environment(fileVariable);
    if (path.empty())
        return;
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::wstring line(text ? text : L"", text ? length : 0);
    line += L'\n';
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

class Sink : public ITelemetryRecordSink {
public:
    explicit Sink(const wchar_t* way)
    {
        ++g_objects;
        appendLine(L"SENTREL_TELEMETRY_CREATIONS", way, static_cast<UINT>(std::wcslen(way)));
    }
    virtual ~Sink() { --g_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ITelemetryRecordSink)) {
            *out = static_cast<ITelemetryRecordSink*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const long left = --m_references;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    HRESULT STDMETHODCALLTYPE SendRecord(BSTR before, BSTR record, BSTR after) override
    {
        // The transport brackets the record with two empty strings.
        if (SysStringLen(before) != 0 || SysStringLen(after) != 0)
            return E_INVALIDARG;
        const HRESULT result = configuredResult();
        if (SUCCEEDED(result))
            appendLine(L"SENTREL_TELEMETRY_CAPTURE", record, SysStringLen(record));
        return result;
    }

private:
    std::atomic<long> m_references{1};
};

// Makes a sink and hands out the interface asked for.
HRESULT makeSink(const wchar_t* way, REFIID iid, void** out)
{
    Sink* sink = new (std::nothrow) Sink(way);
    if (!sink)
        return E_OUTOFMEMORY;
    const HRESULT result = sink->QueryInterface(iid, out);
    sink->Release();
    return result;
}

class Factory : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return makeSink(L"plain", iid, out);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

#ifdef TELEMETRY_SERVER_TRUSTED_FACTORY
class TrustedFactory : public TrustComParts::TrustedFactoryInterface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, TrustComParts::kPrivateFirst)) {
            *out = static_cast<TrustComParts::TrustedFactoryInterface*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateObject(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        const std::wstring answer = environment(L"SENTREL_TELEMETRY_TRUSTED_RESULT");
        if (!answer.empty())
            return static_cast<HRESULT>(std::wcstoul(answer.c_str(), nullptr, 16));
        return makeSink(L"trusted", iid, out);
    }
};

TrustedFactory g_trustedFactory;
#endif

} // namespace

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID classId, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(classId, CLSID_TelemetryServer))
        return CLASS_E_CLASSNOTAVAILABLE;
#ifdef TELEMETRY_SERVER_TRUSTED_FACTORY
    if (IsEqualIID(iid, TrustComParts::kPrivateFirst))
        return g_trustedFactory.QueryInterface(iid, out);
#endif
    return g_factory.QueryInterface(iid, out);
}

extern "C" HRESULT __stdcall DllCanUnloadNow()
{
    return g_objects.load() == 0 ? S_OK : S_FALSE;
}

// Double of the update manager's in-process agent. Its class object is the
// private trusted class factory the trusted creation asks for. The cancel
// operation answers what the test puts in the environment:
//   UPDATE_AGENT_DOUBLE_RESULT  an HRESULT in hexadecimal (default 0)
//   UPDATE_AGENT_DOUBLE_NULL    "1": the factory claims success without an object
// and records the name it was given, for the exports below.
#include "TrustedComParts.h"
#include "UpdateAgent.h"

#include <cwchar>
#include <string>

namespace {

using namespace TrustComParts;

volatile LONG g_alive = 0;
volatile LONG g_calls = 0;
wchar_t g_lastName[1024] = {};
LONG g_lastWasBstr = 0;

std::wstring environment(const wchar_t* name)
{
    wchar_t text[64] = {};
    DWORD n = GetEnvironmentVariableW(name, text, 64);
    return n == 0 || n >= 64 ? std::wstring() : std::wstring(text);
}

class Agent final : public RefCounted<IUpdateAgent> {
public:
    Agent() { InterlockedIncrement(&g_alive); }
    ~Agent() { InterlockedDecrement(&g_alive); }
    HRESULT __stdcall QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IUpdateAgent)) {
            *out = static_cast<IUpdateAgent*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT __stdcall Reserved3() override { return E_NOTIMPL; }
    HRESULT __stdcall Reserved4() override { return E_NOTIMPL; }
    HRESULT __stdcall Reserved5() override { return E_NOTIMPL; }
    HRESULT __stdcall Reserved6() override { return E_NOTIMPL; }
    HRESULT __stdcall Reserved7() override { return E_NOTIMPL; }
    HRESULT __stdcall CancelUpdates(BSTR updateName) override
    {
        InterlockedIncrement(&g_calls);
        g_lastName[0] = 0;
        g_lastWasBstr = 0;
        if (updateName) {
            // A true string of the automation allocator knows its length.
            g_lastWasBstr = SysStringLen(updateName) == wcslen(updateName) ? 1 : 0;
            wcsncpy(g_lastName, updateName, 1023);
        }
        std::wstring result = environment(L"UPDATE_AGENT_DOUBLE_RESULT");
        return result.empty() ? S_OK : static_cast<HRESULT>(wcstoul(result.c_str(), nullptr, 16));
    }
};

class PrivateFactory final : public RefCounted<TrustedFactoryInterface> {
public:
    HRESULT __stdcall QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kPrivateFirst)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT __stdcall CreateObject(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (environment(L"UPDATE_AGENT_DOUBLE_NULL") == L"1")
            return S_OK;
        Agent* agent = new Agent;
        HRESULT hr = agent->QueryInterface(iid, out);
        agent->Release();
        return hr;
    }
};

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_UpdateAgent))
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!IsEqualIID(iid, kPrivateFirst))
        return E_NOINTERFACE;
    *out = static_cast<IUnknown*>(new PrivateFactory);
    return S_OK;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return S_FALSE;
}

// Agents alive now, cancel calls so far, and the last name with whether it
// came as a length-prefixed string.
extern "C" __declspec(dllexport) LONG UpdateAgentDoubleAlive()
{
    return g_alive;
}

extern "C" __declspec(dllexport) LONG UpdateAgentDoubleCalls()
{
    return g_calls;
}

extern "C" __declspec(dllexport) LONG UpdateAgentDoubleLastName(wchar_t* out, DWORD capacity)
{
    if (out && capacity > 0) {
        wcsncpy(out, g_lastName, capacity - 1);
        out[capacity - 1] = 0;
    }
    return g_lastWasBstr;
}

// Double of an in-process COM server. Its class object is offered as a plain
// IClassFactory and as the private trusted class factory, under one of the
// two private identifiers or neither, as the test sets in the environment:
//   TRUST_COM_DOUBLE_PRIVATE  "first" (default), "second", "none", or
//                             "foreign": the class object handed out is that
//                             of another copy, the file named in
//                             TRUST_COM_DOUBLE_FOREIGN (which itself acts
//                             as "first")
// TrustComDoubleCreated() counts the objects made. Whenever a copy of it is
// mapped, it leaves the load mark "TrustComDoubleLoaded" (LoadMark.h).
#include <windows.h>
#include <unknwn.h>

#include "LoadMark.h"
#include "TrustedComParts.h"

#include <cwchar>

namespace {

using namespace TrustComParts;

volatile LONG g_created = 0;

class Object final : public RefCounted<IUnknown> {
public:
    HRESULT __stdcall QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }

};

HRESULT makeObject(REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    Object* object = new Object;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    if (SUCCEEDED(hr))
        InterlockedIncrement(&g_created);
    return hr;
}

class PrivateFactory final : public RefCounted<TrustedFactoryInterface> {
public:
    HRESULT __stdcall QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_iid)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT __stdcall CreateObject(REFIID iid, void** out) override { return makeObject(iid, out); }

    explicit PrivateFactory(const GUID& iid) : m_iid(iid) {}

private:
    GUID m_iid;
};

class Factory final : public RefCounted<IClassFactory> {
public:
    HRESULT __stdcall QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT __stdcall CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return makeObject(iid, out);
    }
    HRESULT __stdcall LockServer(BOOL) override { return S_OK; }

};

int privateChoice()
{
    wchar_t text[16];
    DWORD n = GetEnvironmentVariableW(L"TRUST_COM_DOUBLE_PRIVATE", text, 16);
    if (n == 0 || n >= 16 || wcscmp(text, L"first") == 0)
        return 1;
    if (wcscmp(text, L"foreign") == 0)
        return 3;
    return wcscmp(text, L"second") == 0 ? 2 : 0;
}

using GetClassObjectFn = HRESULT(__stdcall*)(REFCLSID, REFIID, void**);

// The other copy's DllGetClassObject; null when that copy is this module.
// The copy stays loaded: its objects may outlive any call.
GetClassObjectFn foreignClassObject()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"TRUST_COM_DOUBLE_FOREIGN", path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&foreignClassObject), &self);
    HMODULE other = LoadLibraryW(path);
    if (!other || other == self) {
        if (other)
            FreeLibrary(other);
        return nullptr;
    }
    return reinterpret_cast<GetClassObjectFn>(reinterpret_cast<void*>(GetProcAddress(other, "DllGetClassObject")));
}

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        LoadMark::leave(L"TrustComDoubleLoaded");
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    int choice = privateChoice();
    if (choice == 3) {
        if (GetClassObjectFn foreign = foreignClassObject())
            return foreign(clsid, iid, out);
        choice = 1;
    }
    if ((choice == 1 && IsEqualIID(iid, kPrivateFirst)) || (choice == 2 && IsEqualIID(iid, kPrivateSecond))) {
        *out = static_cast<IUnknown*>(new PrivateFactory(iid));
        return S_OK;
    }
    if (IsEqualIID(iid, IID_IClassFactory) || IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IClassFactory*>(new Factory);
        return S_OK;
    }
    return E_NOINTERFACE;
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return S_FALSE;
}

extern "C" __declspec(dllexport) LONG TrustComDoubleCreated()
{
    return g_created;
}

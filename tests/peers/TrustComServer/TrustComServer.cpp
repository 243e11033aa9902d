// Double of an in-process COM server. Its class object is offered as a plain
// IClassFactory and as the private trusted class factory, under one of the
// two private identifiers or neither, as the test sets in the environment:
//   TRUST_COM_DOUBLE_PRIVATE  "first" (default), "second" or "none"
// TrustComDoubleCreated() counts the objects made.
#include <windows.h>
#include <unknwn.h>

#include <cwchar>

namespace {

const GUID kPrivateFirst = {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}};
const GUID kPrivateSecond = {0x6058502E, 0x6069, 0x43F4, {0xB7, 0x33, 0x12, 0x86, 0x49, 0xA2, 0x0B, 0xD5}};

volatile LONG g_created = 0;

// Reference counting shared by the objects below; the last Release deletes.
template <class Interface>
class RefCounted : public Interface {
public:
    virtual ~RefCounted() = default;
    ULONG __stdcall AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG __stdcall Release() override
    {
        LONG left = InterlockedDecrement(&m_refs);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG m_refs = 1;
};

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

// The private class object: slots 0-2 IUnknown, slot 3 creates from
// (interface id, out). Declared as an interface so that slot 3 comes before
// anything the implementation adds (its destructor).
struct TrustedFactoryInterface : public IUnknown {
    virtual HRESULT __stdcall CreateObject(REFIID iid, void** out) = 0;
};

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
    return wcscmp(text, L"second") == 0 ? 2 : 0;
}

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    int choice = privateChoice();
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

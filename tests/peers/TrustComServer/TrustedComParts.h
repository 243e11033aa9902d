#pragma once
// Parts of an in-process COM server double that the trusted creation
// accepts: the private class object's identifiers and shape, and reference
// counting for the objects such a double hands out.
#include <windows.h>
#include <unknwn.h>

namespace TrustComParts {

const GUID kPrivateFirst = {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}};
const GUID kPrivateSecond = {0x6058502E, 0x6069, 0x43F4, {0xB7, 0x33, 0x12, 0x86, 0x49, 0xA2, 0x0B, 0xD5}};

// Reference counting shared by a double's objects; the last Release deletes.
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

// The private class object: slots 0-2 IUnknown, slot 3 creates from
// (interface id, out). Declared as an interface so that slot 3 comes before
// anything the implementation adds (its destructor).
struct TrustedFactoryInterface : public IUnknown {
    virtual HRESULT __stdcall CreateObject(REFIID iid, void** out) = 0;
};

} // namespace TrustComParts

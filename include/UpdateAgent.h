#pragma once
// The update manager's in-process agent, as its callers and its test double
// see it. Only the cancel operation is called; the slots before it exist so
// that it sits where the agent has it (the ninth, counting IUnknown's three).
#include <windows.h>
#include <oleauto.h>
#include <unknwn.h>

// {DA32C9C5-1147-402A-A127-E0E169E9E9B4}
static const CLSID CLSID_UpdateAgent = {0xDA32C9C5, 0x1147, 0x402A, {0xA1, 0x27, 0xE0, 0xE1, 0x69, 0xE9, 0xE9, 0xB4}};
// {3BFC1A9F-B39C-4B72-A121-42B0AE000374}
static const IID IID_IUpdateAgent = {0x3BFC1A9F, 0xB39C, 0x4B72, {0xA1, 0x21, 0x42, 0xB0, 0xAE, 0x00, 0x03, 0x74}};

struct IUpdateAgent : public IUnknown {
    virtual HRESULT __stdcall Reserved3() = 0;
    virtual HRESULT __stdcall Reserved4() = 0;
    virtual HRESULT __stdcall Reserved5() = 0;
    virtual HRESULT __stdcall Reserved6() = 0;
    virtual HRESULT __stdcall Reserved7() = 0;
    // Asks the update manager to cancel the updates of `updateName`.
    virtual HRESULT __stdcall CancelUpdates(BSTR updateName) = 0;
};

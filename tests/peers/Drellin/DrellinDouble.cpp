// Double of the maker's trust-validation library. Its export hands out a
// validation interface by name; slot 5 vouches or refuses as the test says.
//
// Set up through the process environment, read on every call:
//   DRELLIN_DOUBLE_INTERFACES  names it hands out, separated by ';'
//                              (unset: both "KytValidationControl2" and "KytValidationControl")
//   DRELLIN_DOUBLE_VERDICT     "<byte0>,<word4>" in hexadecimal written into the result
//                              (unset: nothing written, which refuses)
//   DRELLIN_DOUBLE_NO_PIN      set: the library does not keep itself loaded
//   DRELLIN_DOUBLE_SIGNED_ONLY set: the verdict is written only for a file whose
//                              signature the system's WinVerifyTrust accepts, as
//                              the real service vouches only for signed files
// Read back through DrellinDoubleJournal: the last flags, path and the call count.
#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

struct Journal {
    DWORD calls;
    DWORD lastFlags;
    wchar_t lastPath[MAX_PATH];
    char lastInterface[64];
};

Journal g_journal;

bool envText(const wchar_t* name, wchar_t* out, DWORD capacity)
{
    DWORD n = GetEnvironmentVariableW(name, out, capacity);
    return n > 0 && n < capacity;
}

struct Control;

struct ControlVtbl {
    HRESULT(__stdcall* QueryInterface)(Control*, REFIID, void**);
    ULONG(__stdcall* AddRef)(Control*);
    ULONG(__stdcall* Release)(Control*);
    HRESULT(__stdcall* Reserved3)(Control*);
    HRESULT(__stdcall* Reserved4)(Control*);
    HRESULT(__stdcall* Validate)(Control*, const wchar_t*, DWORD, BYTE*);
};

struct Control {
    const ControlVtbl* vtbl;
};

HRESULT __stdcall queryInterface(Control*, REFIID, void** out)
{
    if (out)
        *out = nullptr;
    return E_NOINTERFACE;
}
ULONG __stdcall addRef(Control*) { return 2; }
ULONG __stdcall release(Control*) { return 1; }
HRESULT __stdcall reserved(Control*) { return E_NOTIMPL; }

bool signatureIntact(const wchar_t* path)
{
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof(file);
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG answer = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return answer == 0;
}

HRESULT __stdcall validate(Control*, const wchar_t* path, DWORD flags, BYTE* result)
{
    ++g_journal.calls;
    g_journal.lastFlags = flags;
    wcsncpy(g_journal.lastPath, path ? path : L"", MAX_PATH - 1);
    wchar_t verdict[64];
    if (!result || !envText(L"DRELLIN_DOUBLE_VERDICT", verdict, 64))
        return E_FAIL;
    wchar_t flag[8];
    if (envText(L"DRELLIN_DOUBLE_SIGNED_ONLY", flag, 8) && (!path || !signatureIntact(path)))
        return E_FAIL;
    unsigned first = 0, word = 0;
    if (swscanf(verdict, L"%x,%x", &first, &word) != 2)
        return E_FAIL;
    result[0] = static_cast<BYTE>(first);
    DWORD w = word;
    std::memcpy(result + 4, &w, sizeof(w));
    return S_OK;
}

const ControlVtbl g_vtbl = {queryInterface, addRef, release, reserved, reserved, validate};
Control g_control = {&g_vtbl};

bool offered(const char* name)
{
    wchar_t list[256];
    if (!envText(L"DRELLIN_DOUBLE_INTERFACES", list, 256))
        return std::strcmp(name, "KytValidationControl2") == 0 || std::strcmp(name, "KytValidationControl") == 0;
    wchar_t wide[64];
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 64) == 0)
        return false;
    for (wchar_t* token = list; *token;) {
        wchar_t* end = wcschr(token, L';');
        if (end)
            *end = 0;
        if (wcscmp(token, wide) == 0)
            return true;
        if (!end)
            break;
        token = end + 1;
    }
    return false;
}

} // namespace

extern "C" __declspec(dllexport) HRESULT NotComDllGetInterface(const char* name, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!name)
        return E_INVALIDARG;
    strncpy(g_journal.lastInterface, name, sizeof(g_journal.lastInterface) - 1);
    if (!offered(name))
        return E_NOINTERFACE;
    wchar_t flag[8];
    if (!envText(L"DRELLIN_DOUBLE_NO_PIN", flag, 8)) {
        // The interface lives in this library: it stays mapped as long as the interface may be used.
        HMODULE self = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(&g_control), &self);
    }
    *out = &g_control;
    return S_OK;
}

extern "C" __declspec(dllexport) void DrellinDoubleJournal(DWORD* calls, DWORD* lastFlags, wchar_t* lastPath,
                                                           char* lastInterface)
{
    if (calls)
        *calls = g_journal.calls;
    if (lastFlags)
        *lastFlags = g_journal.lastFlags;
    if (lastPath)
        wcsncpy(lastPath, g_journal.lastPath, MAX_PATH);
    if (lastInterface)
        strncpy(lastInterface, g_journal.lastInterface, 64);
}

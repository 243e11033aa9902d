#include "trust/TrustLoad.h"

#include "trust/TrustComServerPath.h"
#include "trust/TrustHandles.h"
#include "trust/TrustHeldFile.h"
#include "trust/TrustLibraryImports.h"
#include "trust/TrustLibraryPath.h"
#include "trust/TrustValidator.h"

#include <psapi.h>

#include <memory>
#include <new>
#include <vector>

namespace {

const GUID kTrustedFactoryFirst = {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}};
const GUID kTrustedFactorySecond = {0x6058502E, 0x6069, 0x43F4, {0xB7, 0x33, 0x12, 0x86, 0x49, 0xA2, 0x0B, 0xD5}};

// The private class object: IUnknown, then a creator taking (interface id, out).
struct TrustedClassFactory;
struct TrustedClassFactoryVtbl {
    HRESULT(__stdcall* QueryInterface)(TrustedClassFactory*, REFIID, void**);
    ULONG(__stdcall* AddRef)(TrustedClassFactory*);
    ULONG(__stdcall* Release)(TrustedClassFactory*);
    HRESULT(__stdcall* CreateObject)(TrustedClassFactory*, REFIID, void**);
};
struct TrustedClassFactory {
    const TrustedClassFactoryVtbl* vtbl;
};

const DWORD kMaxModules = 4096;

bool inModule(HMODULE module, const void* address)
{
    HMODULE holder = nullptr;
    return address &&
           GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &holder) &&
           holder == module;
}

} // namespace

namespace {

// Resolves `name` as the loader would, holds that file with the way to it
// pinned, and checks it through the handle. 0 or the error to report.
DWORD holdChecked(const wchar_t* name, DWORD flags, Halvex::trust::TrustHeldFile& held)
{
    using namespace Halvex::trust;
    if (!name || !*name)
        return ERROR_INVALID_PARAMETER;
    std::wstring fullPath;
    if (!TrustResolveLibraryPath(name, flags, fullPath))
        return ERROR_ACCESS_DENIED;
    DWORD error = held.hold(fullPath);
    if (error)
        return error;
    return TrustVerifyHeldFile(held.path().c_str(), held.handle());
}

// Loads the held, checked library once the imports the loader would take
// from its own folder are held and checked too.
HMODULE loadWithImports(Halvex::trust::TrustHeldFile& held, DWORD flags)
{
    Halvex::trust::TrustLibraryImports imports;
    DWORD answer = imports.check(held, flags, [](const std::wstring& path, HANDLE file) {
        return TrustVerifyHeldFile(path.c_str(), file);
    });
    if (answer != 0) {
        SetLastError(answer);
        return nullptr;
    }
    HMODULE module = held.load(flags);
    if (module && !imports.mappedAsChecked()) {
        FreeLibrary(module);
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return module;
}

} // namespace

HMODULE TrustLoadLibraryExW(const wchar_t* path, DWORD flags)
{
    // One file from here on: the one the loader would map for this name,
    // held, with the way to it pinned, so that nobody can change, replace or
    // move it until it is mapped; and the module handed out is that file's.
    Halvex::trust::TrustHeldFile held;
    DWORD answer = holdChecked(path, flags, held);
    if (answer != 0) {
        SetLastError(answer);
        return nullptr;
    }
    return loadWithImports(held, flags);
}

const void* TrustGetObjectCodeAddress(IUnknown* object)
{
    if (!object)
        return nullptr;
    void* const* table = *reinterpret_cast<void* const* const*>(object);
    return table ? table[0] : nullptr;
}

DWORD TrustGetModulePathOfAddress(const void* address, wchar_t* path)
{
    if (!address || !path)
        return ERROR_INVALID_PARAMETER;
    std::unique_ptr<HMODULE[]> modules(new (std::nothrow) HMODULE[kMaxModules]);
    if (!modules)
        return ERROR_NOT_ENOUGH_MEMORY;
    Halvex::trust::FileHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId()));
    if (!process.valid())
        return GetLastError();
    DWORD needed = 0;
    if (!EnumProcessModules(process.get(), modules.get(), kMaxModules * sizeof(HMODULE), &needed))
        return GetLastError();
    DWORD count = needed / sizeof(HMODULE);
    if (count > kMaxModules)
        count = kMaxModules;
    auto at = reinterpret_cast<ULONG_PTR>(address);
    for (DWORD i = 0; i < count; ++i) {
        MODULEINFO info{};
        if (!GetModuleInformation(process.get(), modules[i], &info, sizeof(info)))
            continue;
        auto base = reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll);
        if (at < base || at - base >= info.SizeOfImage)
            continue;
        DWORD n = GetModuleFileNameExW(process.get(), modules[i], path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) {
            path[0] = 0;
            return ERROR_ACCESS_DENIED;
        }
        return 0;
    }
    return ERROR_ACCESS_DENIED;
}

DWORD TrustVerifyModuleOfAddress(const void* address)
{
    wchar_t path[MAX_PATH] = {};
    TrustGetModulePathOfAddress(address, path);
    if (!path[0])
        return ERROR_INVALID_PARAMETER;
    // The file now at the module's path must be the one it was mapped from.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return ERROR_ACCESS_DENIED;
    Halvex::trust::TrustHeldFile held;
    DWORD error = held.hold(path);
    if (error)
        return error;
    if (!held.isMappedFrom(module))
        return ERROR_ACCESS_DENIED;
    return TrustVerifyHeldFile(held.path().c_str(), held.handle());
}

HRESULT TrustCoCreateInstance(REFCLSID classId, IUnknown* outer, DWORD context, REFIID interfaceId, void** out,
                              BOOL verify)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!verify)
        return CoCreateInstance(classId, outer, context, interfaceId, out);

    // COM creates the class at the end of the TreatAs chain: that is the
    // class whose server is checked, and the one COM is asked for.
    CLSID actual{};
    if (!Halvex::trust::TrustResolveTreatAs(classId, actual))
        return E_ACCESSDENIED;
    // An in-process handler is a file COM would map without this check:
    // the checked way leaves it out.
    context &= ~static_cast<DWORD>(CLSCTX_INPROC_HANDLER | CLSCTX_INPROC_HANDLER16);
    if (context == 0)
        return E_ACCESSDENIED;

    // The in-process server is checked, and loaded, before COM is asked:
    // COM would run its code (DllMain, the class object) before any check
    // of the class object could refuse it. Its file stays held, and the way
    // to it pinned, until COM has handed out the class object.
    Halvex::trust::TrustHeldFile held;
    Halvex::trust::Module server;
    if (context & CLSCTX_INPROC_SERVER) {
        std::wstring serverPath;
        switch (Halvex::trust::TrustFindComServerPath(actual, serverPath)) {
        case Halvex::trust::ComServerPath::None:
            break;
        case Halvex::trust::ComServerPath::Unresolved:
            return E_ACCESSDENIED;
        case Halvex::trust::ComServerPath::Found:
            if (holdChecked(serverPath.c_str(), 0, held) != 0)
                return E_ACCESSDENIED;
            server.reset(loadWithImports(held, 0));
            if (!server)
                return E_ACCESSDENIED;
            break;
        }
    }

    void* raw = nullptr;
    HRESULT hr = CoGetClassObject(actual, context, nullptr, kTrustedFactoryFirst, &raw);
    // A class registered for none of the contexts offers no other class
    // object either: the second attempt is spared.
    if (hr == REGDB_E_CLASSNOTREG)
        return hr;
    if (FAILED(hr) || !raw) {
        raw = nullptr;
        hr = CoGetClassObject(actual, context, nullptr, kTrustedFactorySecond, &raw);
        if (FAILED(hr))
            return hr;
        if (!raw)
            return E_NOINTERFACE;
    }
    auto* factory = static_cast<TrustedClassFactory*>(raw);
    if (!factory->vtbl)
        return E_ACCESSDENIED;
    const void* code = TrustGetObjectCodeAddress(reinterpret_cast<IUnknown*>(factory));
    if (server && !inModule(server.get(), code))
        hr = E_ACCESSDENIED; // COM loaded another file than the one checked
    else if (TrustVerifyModuleOfAddress(code) != 0)
        hr = E_ACCESSDENIED;
    else
        hr = factory->vtbl->CreateObject(factory, interfaceId, out);
    factory->vtbl->Release(factory);
    return hr;
}

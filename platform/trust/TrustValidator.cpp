#include "trust/TrustValidator.h"

#include "trust/TrustFileSigners.h"
#include "trust/TrustHandles.h"
#include "trust/TrustHeldFile.h"
#include "trust/TrustLibraryPath.h"
#include "trust/TrustedList.h"

#include <shlwapi.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// The validation interface: IUnknown's three slots, two more, then the check.
struct ValidationControl;
struct ValidationControlVtbl {
    void* slots[5];
    HRESULT(__stdcall* Validate)(ValidationControl*, const wchar_t* path, DWORD flags, BYTE* result);
};
struct ValidationControl {
    const ValidationControlVtbl* vtbl;
};

DWORD readServiceVersion(HKEY key)
{
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(key, nullptr, L"tolgar_version", RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return 1504;
    unsigned long major = 0, minor = 0;
    if (swscanf(text, L"%lu.%lu", &major, &minor) != 2)
        return 1504;
    if ((major > 15 || (major == 15 && minor >= 4)) && major < 100000 && minor < 100)
        return static_cast<DWORD>(major * 100 + minor);
    return 1504;
}

using Halvex::trust::TrustSignedFile;

bool checkWith(TrustSignedFile& file, const TrustPolicy& policy)
{
    return TrustCheckFileSigners(file, policy.names, policy.roots, policy.rootCount, policy.serials);
}

// The loaded list decides only when it is newer than the policy it would
// replace; an older file never takes over.
bool checkWithLoadedList(TrustedList& list, TrustSignedFile& file, const TrustPolicy& fallback)
{
    bool answered = false;
    bool trusted = list.WithPolicy([&](const TrustPolicy& filePolicy) {
        answered = filePolicy.version > fallback.version;
        return answered && checkWith(file, filePolicy);
    });
    if (!answered && list.IsLoaded())
        return checkWith(file, fallback);
    return trusted;
}

// Every policy one check tries judges the same learnt facts of the file.
bool checkWithTrustedList(TrustSignedFile& file, const TrustPolicy& policy)
{
    TrustedList& list = TrustGlobalList();
    if (list.IsLoaded()) {
        if (checkWithLoadedList(list, file, policy))
            return true;
        // Another process installed a newer list: read it once more.
        if (GlobalFindAtomW(TrustGlobalListAtom().c_str()) == 0 || !list.Reload())
            return false;
        return checkWithLoadedList(list, file, policy);
    }
    if (checkWith(file, policy))
        return true;
    if (!list.LoadLocked() || list.Version() <= policy.version)
        return false;
    return checkWithLoadedList(list, file, policy);
}

} // namespace

TrustValidator::TrustValidator()
{
    make(Settings{});
}

TrustValidator::TrustValidator(const Settings& settings)
{
    make(settings);
}

void TrustValidator::make(const Settings& settings)
{
    HKEY raw = nullptr;
    if (RegOpenKeyExW(settings.key.root, settings.key.path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &raw) !=
        ERROR_SUCCESS)
        return;
    {
        Halvex::trust::RegKey key(raw);
        m_serviceVersion = readServiceVersion(key.get());
    }
    void* control = nullptr;
    if (NotComDllGetInterface(settings.key, settings.library.c_str(), "KytValidationControl2", &control,
                              settings.base) != 0 || !control) {
        control = nullptr;
        if (NotComDllGetInterface(settings.key, settings.library.c_str(), "KytValidationControl", &control,
                                  settings.base) != 0)
            control = nullptr;
    }
    m_control = control;
}

namespace {

std::mutex g_validatorMutex;
TrustValidator* g_validator = nullptr;

} // namespace

TrustValidator* TrustGetValidator(bool* created)
{
    if (created)
        *created = false;
    // A mutex and a flag rather than std::call_once: with this toolchain a
    // call_once retried after a throw never returns.
    std::lock_guard<std::mutex> hold(g_validatorMutex);
    if (!g_validator) {
        g_validator = new TrustValidator();
        if (created)
            *created = true;
    }
    return g_validator;
}

DWORD TrustValidatorCheckService(TrustValidator* validator, const wchar_t* path)
{
    if (!validator || !validator->control() || !path)
        return ERROR_ACCESS_DENIED;
    auto* control = static_cast<ValidationControl*>(validator->control());
    if (!control->vtbl || !control->vtbl->Validate)
        return ERROR_ACCESS_DENIED;
    BYTE result[8] = {};
    bool newer = validator->serviceVersion() >= 1505;
    control->vtbl->Validate(control, path, newer ? 0x200 : 4, result);
    DWORD word = 0;
    std::memcpy(&word, result + 4, sizeof(word));
    bool vouched = (result[0] & 0x2) != 0 && (word & (newer ? 0x8u : 0x1u)) != 0;
    return vouched ? 0 : ERROR_ACCESS_DENIED;
}

DWORD TrustValidatorIsTrusted(TrustValidator* validator, const wchar_t* path, HANDLE file)
{
    if (!path || !*path)
        return ERROR_INVALID_PARAMETER;
    if (TrustValidatorCheckService(validator, path) == 0)
        return 0;
    return TrustCheckFileOrCabinet(path, TrustBuiltinPolicy(), file) ? 0 : ERROR_ACCESS_DENIED;
}

DWORD TrustVerifyHeldFile(const wchar_t* path, HANDLE file)
{
    if (!path || !*path)
        return ERROR_INVALID_PARAMETER;
    try {
        return TrustValidatorIsTrusted(TrustGetValidator(nullptr), path, file);
    } catch (...) {
        return ERROR_ACCESS_DENIED;
    }
}

DWORD TrustVerifyFile(const wchar_t* path)
{
    if (!path || !*path)
        return ERROR_INVALID_PARAMETER;
    const std::wstring full = Halvex::trust::TrustFullPathName(path);
    if (full.empty())
        return ERROR_ACCESS_DENIED;
    Halvex::trust::TrustHeldFile held;
    DWORD error = held.hold(full);
    if (error)
        return error;
    return TrustVerifyHeldFile(held.path().c_str(), held.handle());
}

bool TrustCheckWithTrustedList(const wchar_t* path, const TrustPolicy& policy, HANDLE file)
{
    if (!path || !*path)
        return false;
    TrustSignedFile signedFile(path, file);
    return checkWithTrustedList(signedFile, policy);
}

bool TrustCheckFileOrCabinet(const wchar_t* path, const TrustPolicy& policy, HANDLE file)
{
    if (!path || !*path)
        return false;
    TrustSignedFile signedFile(path, file);
    if (checkWithTrustedList(signedFile, policy))
        return true;
    if (lstrcmpiW(PathFindExtensionW(path), L".cab") != 0)
        return false;
    if (!CabinetExtractTrustedList(path))
        return false;
    return checkWithTrustedList(signedFile, policy);
}

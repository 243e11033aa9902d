#include "trust/NotComDll.h"

#include "trust/TrustCryptMsg.h"
#include "trust/TrustHandles.h"
#include "trust/TrustHeldFile.h"
#include "trust/TrustLibraryImports.h"
#include "trust/TrustLibraryPath.h"

#include <softpub.h>
#include <wintrust.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

using GetInterfaceFn = HRESULT(__stdcall*)(const char*, void**);

// Holds the file and checks its signature through the handle. A file that
// is not there gives "not found", as the signature check would; one that
// cannot be held is refused with the reason.
LONG verifySignature(const std::wstring& path, Halvex::trust::TrustHeldFile& held)
{
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME || error == 0)
            error = ERROR_FILE_NOT_FOUND;
        return static_cast<LONG>(error);
    }
    DWORD error = held.hold(path);
    if (error)
        return static_cast<LONG>(error);
    return Halvex::trust::TrustWinVerify(held.path().c_str(), held.handle(),
                                         WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL, true);
}

bool acceptable(LONG answer)
{
    return answer == 0 || answer == static_cast<LONG>(CRYPT_E_SECURITY_SETTINGS) ||
           answer == static_cast<LONG>(CERT_E_EXPIRED) || answer == static_cast<LONG>(CERT_E_REVOCATION_FAILURE);
}

bool notFound(LONG answer)
{
    return answer == ERROR_FILE_NOT_FOUND || answer == static_cast<LONG>(CRYPT_E_FILE_ERROR);
}

DWORD currentFolderPath(const wchar_t* name, std::wstring& out)
{
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0)
        return GetLastError();
    std::vector<wchar_t> buffer(needed);
    DWORD n = GetCurrentDirectoryW(needed, buffer.data());
    if (n == 0)
        return GetLastError();
    if (n >= needed) {
        buffer.resize(n);
        DWORD again = GetCurrentDirectoryW(n, buffer.data());
        if (again != n - 1)
            return ERROR_PATH_NOT_FOUND; // the folder changed in between
        n = again;
    }
    out.assign(buffer.data(), n);
    out += L"\\";
    out += name;
    return 0;
}

void debugRefusal(const std::wstring& tried, LONG answer)
{
    wchar_t host[1024] = {};
    DWORD n = GetModuleFileNameW(nullptr, host, 1024);
    if (n >= 1024)
        host[1023] = 0;
    wchar_t line[2048];
    swprintf(line, 2048, L"NotComDllGetInterface: %ls loading %ls, WinVerifyTrust failed with %08lx\n", host,
             tried.c_str(), static_cast<unsigned long>(answer));
    OutputDebugStringW(line);
}

// Locates, verifies and loads the library. 0 with the module (which may still
// be null) or the error.
DWORD locateAndLoad(const TrustServiceKey& key, const wchar_t* name, HMODULE base, HMODULE& module)
{
    module = nullptr;
    size_t length = wcslen(name);
    if (length >= MAX_PATH)
        return ERROR_INVALID_PARAMETER;
    bool fullPath = length < 3 || name[0] == L'\\' || name[1] == L':';
    std::wstring path;
    if (fullPath) {
        path = name;
    } else {
        wchar_t install[MAX_PATH] = {};
        if (NotComDllGetInstallPath(key, false, name, install, MAX_PATH))
            path = install;
        else if (currentFolderPath(name, path) != 0)
            path = name;
    }

    // The file is held from its check to its load, and loaded by the full
    // name it was checked under.
    if (!path.empty())
        path = Halvex::trust::TrustFullPathName(path);
    Halvex::trust::TrustHeldFile held;
    LONG answer = path.empty() ? static_cast<LONG>(ERROR_FILE_NOT_FOUND) : verifySignature(path, held);
    if (notFound(answer) && !fullPath) {
        OutputDebugStringW(L"NotComDllGetInterface: DLL not found in install location, looking in current directory\n");
        std::wstring beside;
        if (Halvex::trust::TrustModuleFileName(base, beside)) {
            size_t slash = beside.find_last_of(L'\\');
            beside = (slash == std::wstring::npos ? std::wstring() : beside.substr(0, slash + 1)) + name;
            path = Halvex::trust::TrustFullPathName(beside);
            answer = path.empty() ? static_cast<LONG>(ERROR_FILE_NOT_FOUND) : verifySignature(path, held);
        }
    }
    if (!acceptable(answer)) {
        debugRefusal(path.empty() ? std::wstring(name) : path, answer);
        return static_cast<DWORD>(answer);
    }
    // Its imports from its own folder must carry a valid signature too.
    Halvex::trust::TrustLibraryImports imports;
    DWORD importAnswer = imports.check(held, LOAD_WITH_ALTERED_SEARCH_PATH, [](const std::wstring& file, HANDLE h) {
        return acceptable(Halvex::trust::TrustWinVerify(file.c_str(), h,
                                                        WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL, true))
                   ? DWORD(0)
                   : DWORD(ERROR_ACCESS_DENIED);
    });
    if (importAnswer != 0)
        return importAnswer;
    module = held.load(LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module && !imports.mappedAsChecked()) {
        FreeLibrary(module);
        module = nullptr;
        SetLastError(ERROR_ACCESS_DENIED);
    }
    return 0;
}

} // namespace

bool NotComDllGetInstallPath(const TrustServiceKey& key, bool use32, const wchar_t* name, wchar_t* buffer,
                             DWORD capacity)
{
    if (!name || !buffer || capacity == 0)
        return false;
    HKEY raw = nullptr;
    if (RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_READ | KEY_WOW64_32KEY, &raw) != ERROR_SUCCESS)
        return false;
    Halvex::trust::RegKey hold(raw);
    DWORD size = capacity * sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(raw, use32 ? L"szInstallDir32" : L"szInstallDir64", nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        buffer[0] = 0;
        return false;
    }
    // The stored text need not be terminated; cut it where the data ends.
    DWORD chars = size / sizeof(wchar_t);
    buffer[chars < capacity ? chars : capacity - 1] = 0;
    const size_t used = wcslen(buffer);
    const size_t nameLength = wcslen(name);
    // Folder, separator and name fit whole or not at all: a path cut short
    // names another file, which would then be verified and loaded.
    if (nameLength >= capacity || used + 1 >= capacity - nameLength) {
        buffer[0] = 0;
        return false;
    }
    buffer[used] = L'\\';
    wmemcpy(buffer + used + 1, name, nameLength + 1);
    return true;
}

bool NotComDllGetInstallPath(bool use32, const wchar_t* name, wchar_t* buffer, DWORD capacity)
{
    return NotComDllGetInstallPath(TrustServiceKey{}, use32, name, buffer, capacity);
}

DWORD NotComDllGetInterface(const TrustServiceKey& key, const wchar_t* name, const char* interfaceName, void** out,
                            HMODULE base)
{
    if (!name || !interfaceName || !out)
        return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    HMODULE module = nullptr;
    DWORD error = locateAndLoad(key, name, base, module);
    if (error != 0)
        return error;
    if (!module) {
        DWORD last = GetLastError();
        return last ? last : ERROR_FILE_NOT_FOUND;
    }
    auto get = reinterpret_cast<GetInterfaceFn>(reinterpret_cast<void*>(GetProcAddress(module, "NotComDllGetInterface")));
    if (!get) {
        DWORD last = GetLastError();
        FreeLibrary(module);
        return last;
    }
    DWORD answer = static_cast<DWORD>(get(interfaceName, out));
    // The interface's code lives in the library: while one is handed out,
    // this reference is what keeps the code mapped.
    if (!*out)
        FreeLibrary(module);
    return answer;
}

DWORD NotComDllGetInterface(const wchar_t* name, const char* interfaceName, void** out, HMODULE base)
{
    return NotComDllGetInterface(TrustServiceKey{}, name, interfaceName, out, base);
}

#include "trust/TrustedList.h"

#include <windows.h>
#include <fcntl.h>
#include <fdi.h>
#include <io.h>
#include <shlwapi.h>
#include <share.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace {

using FdiCreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, PERF);
using FdiCopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FdiDestroyFn = BOOL(DIAMONDAPI*)(HFDI);

struct ExtractContext {
    std::string reserved;  // the unique name GetTempFileNameA made (and created)
    std::string extracted; // the list file written next to it
    bool closedCleanly = false;
};

FNALLOC(fdiAlloc) { return std::malloc(cb); }
FNFREE(fdiFree) { std::free(pv); }
FNOPEN(fdiOpen)
{
    int fd = -1;
    fd = _sopen(pszFile, oflag, _SH_DENYNO, pmode);
    return fd;
}
FNREAD(fdiRead) { return static_cast<UINT>(_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(fdiWrite) { return static_cast<UINT>(_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(fdiClose) { return _close(static_cast<int>(hf)); }
FNSEEK(fdiSeek) { return _lseek(static_cast<int>(hf), dist, seektype); }

FNFDINOTIFY(fdiNotify)
{
    auto* context = static_cast<ExtractContext*>(pfdin->pv);
    switch (fdint) {
    case fdintCOPY_FILE: {
        // Only the first list file of a cabinet is looked at.
        if (!pfdin->psz1 || lstrcmpiA(pfdin->psz1, "trusted.js") != 0 || !context->extracted.empty())
            return 0;
        char folder[MAX_PATH] = {};
        DWORD n = GetTempPathA(MAX_PATH, folder);
        if (n == 0 || n >= MAX_PATH)
            return -1;
        char name[MAX_PATH] = {};
        if (GetTempFileNameA(folder, "trustedjs", 0, name) == 0)
            return -1;
        context->reserved = name;
        PathRemoveExtensionA(name);
        if (!PathAddExtensionA(name, ".js"))
            return -1;
        context->extracted = name;
        // A file of that name left from before must not keep its tail.
        return _sopen(name, _O_BINARY | _O_CREAT | _O_WRONLY | _O_TRUNC, _SH_DENYNO, _S_IREAD | _S_IWRITE);
    }
    case fdintCLOSE_FILE_INFO:
        // The archived attributes are not applied: read-only, hidden or system
        // must not reach the installed list, and the copy must stay deletable.
        context->closedCleanly = _close(static_cast<int>(pfdin->hf)) == 0;
        return TRUE;
    default:
        return 0;
    }
}

std::wstring widenAnsi(const std::string& text)
{
    int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::string narrowAnsi(const wchar_t* text)
{
    BOOL lossy = FALSE;
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, &lossy);
    if (n <= 0 || lossy)
        return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

} // namespace

int CabinetExtractTrustedList(const wchar_t* cabinetPath)
{
    if (!cabinetPath || !*cabinetPath)
        return 0;
    // From the system folder only: a Cabinet.dll beside the program or in
    // the current folder must never be the one that runs.
    HMODULE cabinet = LoadLibraryExW(L"Cabinet.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!cabinet)
        return 0;
    int result = 0;
    auto create = reinterpret_cast<FdiCreateFn>(reinterpret_cast<void*>(GetProcAddress(cabinet, "FDICreate")));
    auto copy = reinterpret_cast<FdiCopyFn>(reinterpret_cast<void*>(GetProcAddress(cabinet, "FDICopy")));
    auto destroy = reinterpret_cast<FdiDestroyFn>(reinterpret_cast<void*>(GetProcAddress(cabinet, "FDIDestroy")));
    std::string path = narrowAnsi(cabinetPath);
    if (create && copy && destroy && !path.empty() && path.size() < MAX_PATH) {
        char folder[MAX_PATH] = {};
        lstrcpynA(folder, path.c_str(), MAX_PATH);
        std::string name = PathFindFileNameA(path.c_str());
        PathRemoveFileSpecA(folder);
        std::string cabinetFolder = std::string(folder) + "\\";

        ERF error{};
        ExtractContext context;
        HFDI fdi = create(fdiAlloc, fdiFree, fdiOpen, fdiRead, fdiWrite, fdiClose, fdiSeek, cpuUNKNOWN, &error);
        if (fdi) {
            copy(fdi, &name[0], &cabinetFolder[0], 0, fdiNotify, nullptr, &context);
            destroy(fdi);
        }
        if (!context.extracted.empty()) {
            if (PathFileExistsA(context.extracted.c_str()) && context.closedCleanly)
                result = TrustedListUpdateFrom(widenAnsi(context.extracted).c_str());
            SetFileAttributesA(context.extracted.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(context.extracted.c_str());
        }
        if (!context.reserved.empty())
            DeleteFileA(context.reserved.c_str());
    }
    FreeLibrary(cabinet);
    return result;
}

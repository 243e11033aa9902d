#include "trust/TrustLibraryPath.h"

#include <vector>

namespace Halvex {
namespace trust {

namespace {

const DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                           LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                           LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool hasSeparator(const wchar_t* name)
{
    for (const wchar_t* p = name; *p; ++p)
        if (isSeparator(*p))
            return true;
    return false;
}

// "X:...", "\\..." and "\...": a name that does not depend on the search
// folders (a drive-relative or root-relative one still depends on the
// current folder, as GetFullPathNameW takes it).
bool isRooted(const wchar_t* name)
{
    return isSeparator(name[0]) || (name[0] && name[1] == L':');
}

bool isFile(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isLongPrefixed(const wchar_t* name)
{
    return name[0] == L'\\' && name[1] == L'\\' && name[2] == L'?' && name[3] == L'\\';
}

std::wstring withExtension(const std::wstring& name)
{
    return TrustHasExtension(name) ? name : name + L".dll";
}

std::wstring programFolder()
{
    std::wstring program;
    if (!TrustModuleFileName(nullptr, program))
        return {};
    size_t slash = program.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : program.substr(0, slash);
}

std::wstring systemFolder()
{
    wchar_t folder[MAX_PATH] = {};
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(folder, n);
}

std::wstring windowsFolder()
{
    wchar_t folder[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(folder, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::wstring() : std::wstring(folder, n);
}

std::wstring currentFolder()
{
    DWORD needed = GetCurrentDirectoryW(0, nullptr);
    if (needed == 0)
        return {};
    std::vector<wchar_t> buffer(needed);
    DWORD n = GetCurrentDirectoryW(needed, buffer.data());
    return n == 0 || n >= needed ? std::wstring() : std::wstring(buffer.data(), n);
}

void addPathFolders(std::vector<std::wstring>& folders)
{
    DWORD needed = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (needed == 0)
        return;
    std::vector<wchar_t> buffer(needed);
    DWORD n = GetEnvironmentVariableW(L"PATH", buffer.data(), needed);
    if (n == 0 || n >= needed)
        return;
    std::wstring text(buffer.data(), n);
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L';', start);
        if (end == std::wstring::npos)
            end = text.size();
        if (end > start)
            folders.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

std::vector<std::wstring> searchFolders(DWORD flags)
{
    std::vector<std::wstring> folders;
    if (flags & kSearchFlags) {
        // Folders added with AddDllDirectory cannot be listed: a bare name
        // that only they hold is not found here, and so not loaded.
        if (flags & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
            folders.push_back(programFolder());
        if (flags & (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
            folders.push_back(systemFolder());
        return folders;
    }
    folders.push_back(programFolder());
    folders.push_back(systemFolder());
    folders.push_back(windowsFolder());
    folders.push_back(currentFolder());
    addPathFolders(folders);
    return folders;
}

} // namespace

bool TrustHasExtension(const std::wstring& path)
{
    size_t last = path.find_last_of(L"\\/");
    return path.find(L'.', last == std::wstring::npos ? 0 : last + 1) != std::wstring::npos;
}

std::wstring TrustFullPathName(const std::wstring& path)
{
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return {};
    std::vector<wchar_t> buffer(needed);
    DWORD written = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    if (written == 0 || written >= needed)
        return {};
    return std::wstring(buffer.data(), written);
}

bool TrustModuleFileName(HMODULE module, std::wstring& path)
{
    // Wine does not terminate a truncated result: the length decides.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return false;
        if (n < buffer.size()) {
            path.assign(buffer.data(), n);
            return true;
        }
        buffer.resize(buffer.size() * 8);
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
}

bool TrustResolveLibraryPath(const wchar_t* name, DWORD flags, std::wstring& fullPath)
{
    fullPath.clear();
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::wstring file = withExtension(name);
    if (isLongPrefixed(name)) {
        fullPath = file;
        return true;
    }
    if (isRooted(name)) {
        fullPath = TrustFullPathName(file);
        return !fullPath.empty();
    }
    // A relative path is appended to every search folder, as the loader
    // does; only a bare name can stand for a module already loaded.
    HMODULE loaded = nullptr;
    if (!hasSeparator(name) &&
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, file.c_str(), &loaded) && loaded)
        return TrustModuleFileName(loaded, fullPath);
    for (const std::wstring& folder : searchFolders(flags)) {
        if (folder.empty())
            continue;
        std::wstring candidate = TrustFullPathName(folder + L"\\" + file);
        if (!candidate.empty() && isFile(candidate)) {
            fullPath = candidate;
            return true;
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return false;
}

} // namespace trust
} // namespace Halvex

#include "trust/TrustHeldFile.h"

#include "trust/TrustLibraryPath.h"

#include <cstring>
#include <vector>

namespace Halvex {
namespace trust {

namespace {

// Two views are of one file: the test the loader itself makes. Found at run
// time; without it nothing can be proved and nothing is handed out.
using SameMappingFn = LONG(NTAPI*)(PVOID, PVOID);

SameMappingFn sameMapping()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<SameMappingFn>(
                       reinterpret_cast<void*>(GetProcAddress(ntdll, "NtAreMappedFilesTheSame")))
                 : nullptr;
}

bool sameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

std::wstring finalPathOf(HANDLE file)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD n = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0)
            return {};
        if (n < buffer.size())
            return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
    return {};
}

// "\\?\X:\..." as "X:\...", "\\?\UNC\server\..." as "\\server\...", as long
// as that fits the loader's plain path length and names the same file: a
// plain path loses a trailing dot or blank of any of its parts, so a name on
// disk that ends in one keeps the prefixed form.
std::wstring plainForm(const std::wstring& finalPath)
{
    std::wstring plain;
    if (finalPath.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        plain = L"\\\\" + finalPath.substr(8);
    else if (finalPath.compare(0, 4, L"\\\\?\\") == 0)
        plain = finalPath.substr(4);
    if (plain.empty() || plain.size() >= MAX_PATH)
        return finalPath;
    for (size_t start = 0;;) {
        const size_t end = plain.find(L'\\', start);
        const size_t stop = end == std::wstring::npos ? plain.size() : end;
        if (stop > start && (plain[stop - 1] == L'.' || plain[stop - 1] == L' '))
            return finalPath;
        if (end == std::wstring::npos)
            break;
        start = end + 1;
    }
    return plain;
}

} // namespace

TrustHeldFile::~TrustHeldFile()
{
    release();
}

void TrustHeldFile::release()
{
    if (m_view)
        UnmapViewOfFile(m_view);
    m_view = nullptr;
    m_size = 0;
    m_mapping.reset();
    m_pin.release();
    m_file.reset();
    m_path.clear();
    m_loadPath.clear();
}

DWORD TrustHeldFile::hold(const std::wstring& path)
{
    release();
    if (path.empty() || path.find(L'\0') != std::wstring::npos)
        return ERROR_INVALID_PARAMETER;
    m_file = FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.valid()) {
        DWORD error = GetLastError();
        release();
        return error == ERROR_SHARING_VIOLATION ? error : ERROR_ACCESS_DENIED;
    }
    // The file's own path, not the caller's spelling of it: the folders
    // pinned are the real ones, with no link left on the way that could be
    // re-pointed. Once they are pinned, that path must still name the held
    // file (a folder renamed in between would make it name another).
    const std::wstring finalPath = finalPathOf(m_file.get());
    DWORD error = finalPath.empty() ? ERROR_ACCESS_DENIED : m_pin.pin(finalPath);
    if (!error) {
        m_path = plainForm(finalPath);
        // A trailing dot keeps the loader from adding ".dll"; a prefixed path
        // is taken literally, so such a file cannot be named that way.
        m_loadPath = m_path;
        if (!TrustHasExtension(m_path)) {
            if (m_path.compare(0, 4, L"\\\\?\\") == 0)
                error = ERROR_ACCESS_DENIED;
            m_loadPath += L".";
        }
    }
    if (!error) {
        // The very spelling the loader is handed must name the held file.
        FileHandle named(CreateFileW(m_loadPath.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!named.valid() || !sameFile(named.get(), m_file.get()))
            error = ERROR_ACCESS_DENIED;
    }
    if (error) {
        release();
        return error;
    }
    return 0;
}

DWORD TrustCheckedLoadFlags(DWORD flags)
{
    const DWORD search = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                         LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                         LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
    const DWORD noCode = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE | LOAD_LIBRARY_AS_IMAGE_RESOURCE;
    if (flags & (search | noCode))
        return flags;
    return (flags & ~static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH)) | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
           LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
}

const BYTE* TrustHeldFile::bytes(SIZE_T& size)
{
    size = 0;
    if (!m_file.valid())
        return nullptr;
    if (!m_view) {
        LARGE_INTEGER length{};
        if (!GetFileSizeEx(m_file.get(), &length) || length.QuadPart <= 0 ||
            static_cast<ULONGLONG>(length.QuadPart) > static_cast<SIZE_T>(-1))
            return nullptr;
        m_mapping = FileHandle(CreateFileMappingW(m_file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
        if (!m_mapping.valid())
            return nullptr;
        m_view = MapViewOfFile(m_mapping.get(), FILE_MAP_READ, 0, 0, 0);
        if (!m_view)
            return nullptr;
        m_size = static_cast<SIZE_T>(length.QuadPart);
    }
    size = m_size;
    return static_cast<const BYTE*>(m_view);
}

bool TrustHeldFile::isMappedFrom(HMODULE module)
{
    static const SameMappingFn same = sameMapping();
    SIZE_T size = 0;
    if (!module || !bytes(size))
        return false;
    // A data or resource mapping's handle carries flags in its low bits.
    const auto flagBits = reinterpret_cast<ULONG_PTR>(module) & 3;
    void* base = reinterpret_cast<void*>(reinterpret_cast<ULONG_PTR>(module) & ~static_cast<ULONG_PTR>(3));
    if (same && same(base, const_cast<void*>(m_view)) == 0)
        return true;
    // A plain data mapping is not an image, and not every system compares
    // the files behind one: its bytes must then be the held file's, all of
    // them, which is what was checked.
    if (flagBits == 0)
        return false;
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(base, &info, sizeof(info)) != sizeof(info) || info.Type != MEM_MAPPED ||
        info.AllocationBase != base || info.RegionSize < m_size)
        return false;
    return memcmp(base, m_view, m_size) == 0;
}

HMODULE TrustHeldFile::load(DWORD flags)
{
    if (!m_file.valid()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    // The loader hands out a module already mapped under the same path
    // without opening the file again: it must be the held file's. (The
    // lookup takes the name as the loader does, trailing dot and all.)
    HMODULE mapped = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, m_loadPath.c_str(), &mapped) && mapped &&
        !isMappedFrom(mapped)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HMODULE module = LoadLibraryExW(m_loadPath.c_str(), nullptr, TrustCheckedLoadFlags(flags));
    if (!module)
        return nullptr;
    if (isMappedFrom(module))
        return module;
    FreeLibrary(module);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

} // namespace trust
} // namespace Halvex

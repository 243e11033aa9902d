#include "trust/TrustLibraryImports.h"

#include "trust/TrustLibraryPath.h"

#include <cstring>
#include <cwctype>
#include <deque>
#include <set>

namespace Halvex {
namespace trust {

namespace {

// More imports than any real library has: a file that names more is refused
// rather than walked without end.
const size_t kMostImports = 512;

template <typename T>
bool readAt(const BYTE* data, SIZE_T size, SIZE_T offset, T& out)
{
    if (offset > size || size - offset < sizeof(T))
        return false;
    std::memcpy(&out, data + offset, sizeof(T));
    return true;
}

// The file offset of a relative virtual address, through the section table.
bool fileOffset(const BYTE* data, SIZE_T size, SIZE_T sections, WORD count, DWORD rva, SIZE_T& offset)
{
    for (WORD i = 0; i < count; ++i) {
        IMAGE_SECTION_HEADER section{};
        if (!readAt(data, size, sections + i * sizeof(section), section))
            return false;
        const DWORD extent = section.SizeOfRawData > section.Misc.VirtualSize ? section.SizeOfRawData
                                                                              : section.Misc.VirtualSize;
        if (rva >= section.VirtualAddress && rva - section.VirtualAddress < extent) {
            offset = static_cast<SIZE_T>(section.PointerToRawData) + (rva - section.VirtualAddress);
            return offset < size;
        }
    }
    return false;
}

std::wstring lowerWide(const std::string& name)
{
    std::wstring wide;
    for (char c : name)
        wide += static_cast<wchar_t>(std::towlower(static_cast<unsigned char>(c)));
    return wide;
}

std::wstring lowerWide(const std::wstring& text)
{
    std::wstring lower(text);
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(c));
    return lower;
}

std::wstring folderOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::wstring knownFolder(bool system)
{
    if (system) {
        wchar_t folder[MAX_PATH] = {};
        UINT n = GetSystemDirectoryW(folder, MAX_PATH);
        return n == 0 || n >= MAX_PATH ? std::wstring() : lowerWide(std::wstring(folder, n));
    }
    std::wstring program;
    return TrustModuleFileName(nullptr, program) ? lowerWide(folderOf(program)) : std::wstring();
}

bool isApiSet(const std::wstring& lowerName)
{
    return lowerName.compare(0, 4, L"api-") == 0 || lowerName.compare(0, 4, L"ext-") == 0;
}

// A name in an import table is a file name, nothing more: one with a path in
// it is no import the walk can follow.
bool isPlainName(const std::wstring& name)
{
    return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos;
}

} // namespace

bool TrustImportedNames(const BYTE* data, SIZE_T size, std::vector<std::string>& names)
{
    names.clear();
    IMAGE_DOS_HEADER dos{};
    if (!data || !readAt(data, size, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0)
        return false;
    const SIZE_T nt = static_cast<SIZE_T>(dos.e_lfanew);
    DWORD signature = 0;
    IMAGE_FILE_HEADER file{};
    WORD magic = 0;
    if (!readAt(data, size, nt, signature) || signature != IMAGE_NT_SIGNATURE ||
        !readAt(data, size, nt + sizeof(DWORD), file) || !readAt(data, size, nt + sizeof(DWORD) + sizeof(file), magic))
        return false;
    const SIZE_T optional = nt + sizeof(DWORD) + sizeof(file);
    IMAGE_DATA_DIRECTORY imports{};
    if (magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        IMAGE_OPTIONAL_HEADER64 header{};
        if (file.SizeOfOptionalHeader < sizeof(header) || !readAt(data, size, optional, header))
            return false;
        if (header.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT)
            imports = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else if (magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        IMAGE_OPTIONAL_HEADER32 header{};
        if (file.SizeOfOptionalHeader < sizeof(header) || !readAt(data, size, optional, header))
            return false;
        if (header.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_IMPORT)
            imports = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    } else {
        return false;
    }
    if (imports.VirtualAddress == 0)
        return true;
    const SIZE_T sections = optional + file.SizeOfOptionalHeader;
    SIZE_T at = 0;
    if (!fileOffset(data, size, sections, file.NumberOfSections, imports.VirtualAddress, at))
        return false;
    for (;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR entry{};
        if (!readAt(data, size, at, entry))
            return false;
        if (entry.Name == 0)
            return true;
        if (names.size() >= kMostImports)
            return false;
        SIZE_T name = 0;
        if (!fileOffset(data, size, sections, file.NumberOfSections, entry.Name, name))
            return false;
        const void* end = std::memchr(data + name, 0, size - name);
        if (!end)
            return false;
        names.emplace_back(reinterpret_cast<const char*>(data + name), static_cast<const BYTE*>(end) - (data + name));
    }
}

DWORD TrustLibraryImports::check(TrustHeldFile& library, DWORD flags, const Check& verify)
{
    m_held.clear();
    const DWORD effective = TrustCheckedLoadFlags(flags);
    const DWORD noCode = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE |
                         LOAD_LIBRARY_AS_IMAGE_RESOURCE | DONT_RESOLVE_DLL_REFERENCES;
    if ((effective & noCode) || (effective & LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR) == 0)
        return 0;
    const std::wstring folder = folderOf(library.path());
    const std::wstring lowerFolder = lowerWide(folder);
    if (folder.empty() || lowerFolder == knownFolder(false) || lowerFolder == knownFolder(true))
        return 0;

    // Breadth first, each name once: the loader looks for an import of an
    // import in the same folders, the library's own first.
    std::deque<TrustHeldFile*> pending{&library};
    std::set<std::wstring> seen;
    while (!pending.empty()) {
        TrustHeldFile* file = pending.front();
        pending.pop_front();
        SIZE_T size = 0;
        const BYTE* data = file->bytes(size);
        std::vector<std::string> names;
        if (!data || !TrustImportedNames(data, size, names)) {
            m_held.clear();
            return ERROR_ACCESS_DENIED;
        }
        for (const std::string& narrow : names) {
            std::wstring name = lowerWide(narrow);
            if (name.find(L'.') == std::wstring::npos)
                name += L".dll";
            if (!seen.insert(name).second)
                continue;
            if (seen.size() > kMostImports || !isPlainName(name)) {
                m_held.clear();
                return ERROR_ACCESS_DENIED;
            }
            // One already mapped is bound to as it is: nothing new runs.
            if (isApiSet(name) || GetModuleHandleW(name.c_str()))
                continue;
            const std::wstring candidate = folder + L"\\" + name;
            const DWORD attributes = GetFileAttributesW(candidate.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
                continue; // the loader goes on to the program's and the system folder
            auto held = std::make_unique<TrustHeldFile>();
            DWORD error = held->hold(candidate);
            if (!error && lowerWide(folderOf(held->path())) != lowerFolder)
                error = ERROR_ACCESS_DENIED;
            if (!error)
                error = verify(held->path(), held->handle());
            if (error) {
                m_held.clear();
                return error;
            }
            pending.push_back(held.get());
            m_held.push_back(std::move(held));
        }
    }
    return 0;
}

bool TrustLibraryImports::mappedAsChecked()
{
    for (const std::unique_ptr<TrustHeldFile>& held : m_held) {
        HMODULE module = nullptr;
        if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, held->path().c_str(), &module) &&
            module && !held->isMappedFrom(module))
            return false;
    }
    return true;
}

} // namespace trust
} // namespace Halvex

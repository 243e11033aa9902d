#include "dll/SharedLibrary.h"

#include "Logging/Log.h"
#include "Registry/CObfuscatedRegKey.h"
#include "dll/CallGuarded.h"
#include "dll/ModuleException.h"
#include "paths/PlainFileName.h"
#include "trust/TrustHeldFile.h"

#include "ModuleStatus.h"

#include <cwctype>

namespace Ostrand {

namespace {

const wchar_t kSource[] = L"dll\\SharedLibrary";
const wchar_t kBlockListRoot[] = L"SOFTWARE\\Corvane\\Strova\\List\\";

// The framework's own libraries are never looked up in the block list.
bool isFrameworkLibrary(const std::wstring& lowerName)
{
    static const std::vector<std::wstring> names = {L"vigrel.dll", L"praxil.dll", L"harnoy.dll", L"ondrel.dll"};
    for (const std::wstring& framework : names)
        if (framework == lowerName)
            return true;
    return false;
}

// The last component of a full path.
std::wstring fileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Whether `module` is a module of this process (a loader double's made-up
// handle is none) that is not mapped from the held file.
bool isAnotherFilesModule(Halvex::trust::TrustHeldFile& held, HMODULE module)
{
    HMODULE found = nullptr;
    const bool real = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                         reinterpret_cast<LPCWSTR>(module), &found) &&
                      found == module;
    return real && !held.isMappedFrom(module);
}

std::wstring lowerCased(const std::wstring& text)
{
    std::wstring lower(text);
    for (wchar_t& c : lower)
        c = static_cast<wchar_t>(std::towlower(c));
    return lower;
}

} // namespace

SharedLibrary::SharedLibrary(LibraryDescriptor descriptor, std::shared_ptr<DllLoader> loader,
                             std::shared_ptr<PathHelpers> pathHelpers, std::shared_ptr<PathSearch> pathSearch,
                             std::shared_ptr<Halvex::FileVersionInfo> versionInfo,
                             std::shared_ptr<Halvex::CRegKey> blockList)
    : m_descriptor(std::move(descriptor)), m_loader(loader ? std::move(loader) : std::make_shared<DllLoader>()),
      m_pathHelpers(pathHelpers ? std::move(pathHelpers) : std::make_shared<PathHelpers>()),
      m_pathSearch(pathSearch ? std::move(pathSearch) : std::make_shared<PathSearch>()),
      m_blockList(std::move(blockList)), m_versionInfo(std::move(versionInfo))
{
    if (loadLibrary() != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::SharedLibrary",
                L"Failed to load library: %ls. Throwing ModuleException.", m_descriptor.name.c_str());
        throw ModuleException("Failed to load library");
    }
    if (importFunctions() != MODULE_STATUS_SUCCESS) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::SharedLibrary",
                L"Failed to import functions from library: %ls. Throwing ModuleException.",
                m_descriptor.name.c_str());
        unloadLibrary();
        throw ModuleException("Failed to import functions from library");
    }
}

SharedLibrary::~SharedLibrary()
{
    unloadLibrary();
}

const LibraryExports* SharedLibrary::getFunctions() const
{
    return &m_exports;
}

std::wstring SharedLibrary::blockListKey(const std::wstring& lowerName)
{
    return kBlockListRoot + lowerName;
}

uint32_t SharedLibrary::loadLibrary()
{
    const std::wstring& name = m_descriptor.name;
    // Any other spelling could reach a file outside the search folders, or
    // one the block list knows under its plain name.
    if (!IsPlainFileName(name)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::loadLibrary",
                L"Refusing library name \"%ls\": not a plain file name.", name.c_str());
        return MODULE_STATUS_NOT_FOUND;
    }
    for (std::wstring& folder : m_descriptor.searchPaths) {
        if (!m_pathHelpers->expand(folder)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::loadLibrary",
                    L"Failed to resolve file path, %ls, for library: %ls.", folder.c_str(), name.c_str());
            return MODULE_STATUS_NOT_FOUND;
        }
    }
    m_pathSearch->addPaths(m_descriptor.searchPaths);
    std::wstring folder;
    if (!m_pathSearch->findFilePath(name, folder)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::loadLibrary",
                L"Failed to find valid path for library: %ls.", name.c_str());
        return MODULE_STATUS_NOT_FOUND;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, kSource, L"Ostrand::SharedLibrary::loadLibrary", L"Loading %ls from %ls.",
            name.c_str(), folder.c_str());
    const std::wstring path = folder + L"\\" + name;
    // The file is held from its block check to its load: the version looked
    // up is the held file's, under the name it has on disk (a short
    // spelling gives the long one), and the module loaded must be mapped
    // from it. A file that cannot be held has no version to look at here;
    // its load fails on the same hold.
    Halvex::trust::TrustHeldFile held;
    const bool isHeld = held.hold(path) == 0;
    if (isHeld && isBlocked(held.path(), name)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Ostrand::SharedLibrary::loadLibrary",
                L"Blocked library: %ls.", path.c_str());
        return MODULE_STATUS_NOT_SUPPORTED;
    }
    bool loaded = m_loader->loadDLL(path, &m_handle);
    if (loaded && isHeld && isAnotherFilesModule(held, m_handle)) {
        m_loader->freeDLL(m_handle);
        loaded = false;
    }
    if (!loaded) {
        m_handle = nullptr;
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::loadLibrary",
                L"Failed to load library: %ls.", name.c_str());
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    return MODULE_STATUS_SUCCESS;
}

uint32_t SharedLibrary::importFunctions()
{
    struct Export {
        const char* name;
        void** slot;
    };
    const Export exports[] = {
        {"CreateObject", &m_exports.createObject},
        {"ReleaseObject", &m_exports.releaseObject},
        {"GetVersionStr", &m_exports.getVersionStr},
        {"GetVersionNum", &m_exports.getVersionNum},
    };
    for (const Export& entry : exports) {
        *entry.slot = reinterpret_cast<void*>(m_loader->getProcAddress(m_handle, entry.name));
        if (!*entry.slot) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::importFunctions",
                    L"Failed to load %hs function from library: %ls.", entry.name, m_descriptor.name.c_str());
            return MODULE_STATUS_NOT_FOUND;
        }
    }
    return MODULE_STATUS_SUCCESS;
}

uint32_t SharedLibrary::unloadLibrary() noexcept
{
    return internal::callGuarded([this]() -> uint32_t {
        if (!m_handle)
            return MODULE_STATUS_SUCCESS;
        if (!m_loader->freeDLL(m_handle)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::SharedLibrary::unloadLibrary",
                    L"Failed to free library: %ls.", m_descriptor.name.c_str());
            return MODULE_STATUS_UNSUCCESSFUL;
        }
        m_handle = nullptr;
        m_exports = LibraryExports();
        return MODULE_STATUS_SUCCESS;
    });
}

bool SharedLibrary::isBlocked(const std::wstring& heldPath, const std::wstring& name) const
{
    if (heldPath.empty() || name.empty())
        return false;
    const std::wstring lowerName = lowerCased(fileNameOf(heldPath));
    if (isFrameworkLibrary(lowerName))
        return false;
    return isVersionBlocked(heldPath, lowerName);
}

bool SharedLibrary::isVersionBlocked(const std::wstring& heldPath, const std::wstring& name) const
{
    const std::shared_ptr<Halvex::FileVersionInfo> versionInfo =
        m_versionInfo ? m_versionInfo : std::make_shared<Halvex::FileVersionInfo>();
    if (!versionInfo->Load(heldPath))
        return false;
    const std::wstring version = versionInfo->GetString(Halvex::VersionStringName(Halvex::VersionString::FileVersion));

    const std::shared_ptr<Halvex::CRegKey> key = m_blockList ? m_blockList : std::make_shared<Halvex::CObfuscatedRegKey>();
    if (key->Open(HKEY_LOCAL_MACHINE, blockListKey(name).c_str(), KEY_READ) != ERROR_SUCCESS)
        return false;
    std::wstring listed;
    const LONG status = key->QueryStringValue(version.c_str(), listed);
    key->Close();
    // Only a value that was really read can match: a failed read leaves the
    // text empty, which would otherwise block every file without version text.
    return status == ERROR_SUCCESS && listed == version;
}

} // namespace Ostrand

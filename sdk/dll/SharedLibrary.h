#pragma once
#include "dll/DllLoader.h"
#include "dll/LibraryDescriptor.h"
#include "paths/PathHelpers.h"
#include "paths/PathSearch.h"

#include "Registry/CRegKey.h"
#include "Version/FileVersionInfo.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

namespace Ostrand {

// A library of the framework family, found along its search folders, refused
// when its version is on the machine's block list, loaded only when its
// signature is trusted, with its four exports imported. An object that exists
// always holds the library; the library is freed when the object goes.
class SharedLibrary {
public:
    // Every collaborator may be empty: the loader, expander and searcher are
    // then made here; a version reader and a block-list key are then made
    // afresh for each block check. Throws ModuleException when the library
    // cannot be found, is blocked, cannot be loaded or lacks an export.
    explicit SharedLibrary(LibraryDescriptor descriptor, std::shared_ptr<DllLoader> loader = {},
                           std::shared_ptr<PathHelpers> pathHelpers = {}, std::shared_ptr<PathSearch> pathSearch = {},
                           std::shared_ptr<Halvex::FileVersionInfo> versionInfo = {},
                           std::shared_ptr<Halvex::CRegKey> blockList = {});
    virtual ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Valid while the object lives.
    virtual const LibraryExports* getFunctions() const;

    // The machine-hive key that lists the blocked versions of a library
    // (`lowerName` is the lower-cased file name).
    static std::wstring blockListKey(const std::wstring& lowerName);

private:
    uint32_t loadLibrary();
    uint32_t importFunctions();
    uint32_t unloadLibrary() noexcept;
    // `heldPath` is the held file's own full path, `name` the name asked for.
    bool isBlocked(const std::wstring& heldPath, const std::wstring& name) const;
    // `name` is the lower-cased name the file has on disk.
    bool isVersionBlocked(const std::wstring& heldPath, const std::wstring& name) const;

    LibraryDescriptor m_descriptor;
    std::shared_ptr<DllLoader> m_loader;
    std::shared_ptr<PathHelpers> m_pathHelpers;
    std::shared_ptr<PathSearch> m_pathSearch;
    std::shared_ptr<Halvex::CRegKey> m_blockList;
    std::shared_ptr<Halvex::FileVersionInfo> m_versionInfo;
    HMODULE m_handle = nullptr;
    LibraryExports m_exports;
};

} // namespace Ostrand

#pragma once
#include "wrappers/DllAPI.h"
#include "wrappers/PathAPI.h"

#include <memory>
#include <string>
#include <vector>

namespace Ostrand {

// An ordered list of folders and the first of them that holds a file.
// Built, filled and searched by one thread.
class PathSearch {
public:
    // Empty pointers are replaced by the system's wrappers.
    explicit PathSearch(std::shared_ptr<PathAPI> pathApi = {}, std::shared_ptr<DllAPI> dllApi = {});
    virtual ~PathSearch();
    PathSearch(const PathSearch&) = delete;
    PathSearch& operator=(const PathSearch&) = delete;

    virtual std::vector<std::wstring> getPaths() const;
    // Folders are kept as given: no normalisation, no duplicate check.
    virtual void addPaths(const std::vector<std::wstring>& paths);
    // A null folder is ignored.
    virtual void addPath(const wchar_t* path);
    virtual void addPath(const std::wstring& path);

    // The first folder, in insertion order, for which folder + "\" + fileName
    // passes checkIfExists; the folder comes back without a final backslash.
    // Only absolute folders are searched: an empty one, or one still holding a
    // placeholder, would otherwise be looked up relative to the current folder.
    // A fileName that is not a plain file name (IsPlainFileName) is refused
    // with an error line. On false the out-value is untouched.
    virtual bool findFilePath(const std::wstring& fileName, std::wstring& folder);
    // An existing file (a folder of that name does not count).
    virtual bool checkIfExists(const std::wstring& path);

private:
    std::shared_ptr<PathAPI> m_pathApi;
    std::shared_ptr<DllAPI> m_dllApi;
    std::vector<std::wstring> m_paths;
};

} // namespace Ostrand

#include "paths/PathSearch.h"

#include "Logging/Log.h"
#include "paths/PlainFileName.h"

namespace Ostrand {

namespace {

bool isSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// "X:\..." or "\\server\share", "\\?\..." : nothing that depends on the
// current folder or the current drive.
bool isDriveLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

bool isAbsoluteFolder(const std::wstring& folder)
{
    if (folder.find(L'\0') != std::wstring::npos)
        return false;
    if (folder.size() >= 3 && isDriveLetter(folder[0]) && folder[1] == L':' && isSeparator(folder[2]))
        return true;
    return folder.size() >= 3 && isSeparator(folder[0]) && isSeparator(folder[1]);
}

} // namespace

PathSearch::PathSearch(std::shared_ptr<PathAPI> pathApi, std::shared_ptr<DllAPI> dllApi)
    : m_pathApi(pathApi ? std::move(pathApi) : std::make_shared<PathAPI>()),
      m_dllApi(dllApi ? std::move(dllApi) : std::make_shared<DllAPI>())
{
}

PathSearch::~PathSearch()
{
    // The folder list goes first, then the wrappers, newest first.
    m_paths.clear();
    m_dllApi.reset();
    m_pathApi.reset();
}

std::vector<std::wstring> PathSearch::getPaths() const
{
    return m_paths;
}

void PathSearch::addPaths(const std::vector<std::wstring>& paths)
{
    m_paths.insert(m_paths.end(), paths.begin(), paths.end());
}

void PathSearch::addPath(const wchar_t* path)
{
    if (path)
        m_paths.emplace_back(path);
}

void PathSearch::addPath(const std::wstring& path)
{
    m_paths.push_back(path);
}

bool PathSearch::findFilePath(const std::wstring& fileName, std::wstring& folder)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, L"PathSearch", L"Ostrand::PathSearch::findFilePath",
            L"Entering findFilePath for file %ls", fileName.c_str());
    if (!IsPlainFileName(fileName)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, L"PathSearch", L"Ostrand::PathSearch::findFilePath",
                L"Refusing file name \"%ls\": not a plain file name.", fileName.c_str());
        return false;
    }
    for (const std::wstring& candidate : m_paths) {
        if (!isAbsoluteFolder(candidate)) {
            ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, L"PathSearch", L"Ostrand::PathSearch::findFilePath",
                    L"Skipping search folder \"%ls\": not an absolute path.", candidate.c_str());
            continue;
        }
        if (!checkIfExists(candidate + L"\\" + fileName))
            continue;
        folder = candidate;
        if (folder.back() == L'\\')
            folder.pop_back();
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, L"PathSearch", L"Ostrand::PathSearch::findFilePath",
                L"File found at path %ls. Returning success.", folder.c_str());
        return true;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, L"PathSearch", L"Ostrand::PathSearch::findFilePath", L"File not found.");
    return false;
}

bool PathSearch::checkIfExists(const std::wstring& path)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, L"PathSearch", L"Ostrand::PathSearch::checkIfExists",
            L"Entering checkIfExists for %ls", path.c_str());
    if (path.find(L'\0') == std::wstring::npos && m_pathApi->fileExists(path.c_str())) {
        ETW_LOG(ETWLogging::LOG_LEVEL_NORMAL, L"PathSearch", L"Ostrand::PathSearch::checkIfExists", L"File exists");
        return true;
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, L"PathSearch", L"Ostrand::PathSearch::checkIfExists",
            L"File does not exist.");
    return false;
}

} // namespace Ostrand

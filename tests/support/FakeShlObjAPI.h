#pragma once
#include "System/ShlObjAPI.h"

#include <map>
#include <string>

namespace TestSupport {

// A known-folder lookup that answers from a table: a listed folder gives its
// path, any other fails with the table's error. Counts the questions.
class FakeShlObjAPI : public Halvex::ShlObjAPI {
public:
    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD flags, HANDLE token, PWSTR* path) override;

    void set(REFKNOWNFOLDERID folder, const std::wstring& path) { m_paths[key(folder)] = path; }
    void clear() { m_paths.clear(); }

    HRESULT failure = E_FAIL;
    // When set, a failure still hands back a buffer (the caller must free it).
    bool bufferOnFailure = false;
    int calls = 0;

    static std::wstring key(REFKNOWNFOLDERID folder);

private:
    std::map<std::wstring, std::wstring> m_paths;
};

} // namespace TestSupport

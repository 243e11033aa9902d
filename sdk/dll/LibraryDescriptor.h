#pragma once
#include <string>
#include <vector>

namespace Ostrand {

// What a caller asks the shared-library loader for: a file name and the
// folders to look in, in order. A folder may hold placeholders
// ("$(App.Folder)"); the loader expands them in its own copy.
struct LibraryDescriptor {
    std::wstring name;
    std::vector<std::wstring> searchPaths;
};

// The four entry points every library of the family exports, untyped: each
// user casts them to the signatures of its kind of library.
struct LibraryExports {
    void* createObject = nullptr;
    void* releaseObject = nullptr;
    void* getVersionStr = nullptr;
    void* getVersionNum = nullptr;
};

} // namespace Ostrand

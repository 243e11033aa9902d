#pragma once
// Libraries of the trust kit copied into a folder of the test's own under the
// names a test needs, and the block list of one library name.
#include "ScratchFolder.h"

#include "dll/DllLoader.h"

#include <string>
#include <utility>
#include <vector>

namespace LibraryTests {

class LibraryFolder {
public:
    // Copies the kit's file `kitName` into the folder as `as`; returns the full path.
    std::wstring install(const std::wstring& kitName, const std::wstring& as) const;
    const std::wstring& path() const { return m_folder.path(); }

private:
    TestSupport::ScratchFolder m_folder;
};

// The machine's block-list key of one library name (in any case), filled
// with obfuscated string values; deleted when the object goes.
class BlockList {
public:
    BlockList(const std::wstring& name, const std::vector<std::pair<std::wstring, std::wstring>>& values);
    ~BlockList();
    BlockList(const BlockList&) = delete;
    BlockList& operator=(const BlockList&) = delete;

private:
    std::wstring m_key;
};

// Loads nothing: every file "loads" with a made-up handle (0x4000) and every
// export is found; records what it is asked to free.
class PretendLoader : public Ostrand::DllLoader {
public:
    bool loadDLL(const std::wstring& path, HMODULE* handle) override;
    FARPROC getProcAddress(HMODULE module, const char* name) override;
    bool freeDLL(HMODULE module) override;

    bool freeAnswer = true;
    std::vector<HMODULE> freed;
};

// A library name no other test uses, lower-case.
std::wstring uniqueLibraryName(const std::wstring& stem);

} // namespace LibraryTests

#pragma once
#include <string>

namespace TestSupport {

// A folder of the test's own under the Wine prefix's temp folder, removed
// with everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    // A second folder of the same test needs a stem of its own: folders are
    // named by stem, test and process.
    explicit ScratchFolder(const std::wstring& stem);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::wstring& path() const { return m_path; }
    // path() + "\" + relative
    std::wstring file(const std::wstring& relative) const;

    // Writes raw bytes to a file below the folder; returns its full path.
    std::wstring write(const std::wstring& relative, const std::string& bytes) const;
    // Reads a whole file; empty when it cannot be read.
    static std::string read(const std::wstring& path);

private:
    std::wstring m_path;
};

} // namespace TestSupport

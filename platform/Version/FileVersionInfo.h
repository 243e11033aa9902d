#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace Halvex {

// The standard names of a version resource's strings, for GetString.
enum class VersionString {
    CompanyName,
    FileVersion,
    FileDescription,
    LegalCopyright,
    ProductName,
    ProductVersion,
};
const wchar_t* VersionStringName(VersionString which);

// The version resource of one file, loaded once, and its named strings.
class FileVersionInfo {
public:
    FileVersionInfo() = default;
    virtual ~FileVersionInfo() = default;

    // Loads the resource of the file at `path`. False when the file has no
    // readable resource, and false at once when something is loaded already
    // (the first file's data stays).
    virtual bool Load(const std::wstring& path);

    // The named string under the first translation of the resource that has
    // it; empty when nothing is loaded or no translation has the name.
    virtual std::wstring GetString(const std::wstring& name) const;

    bool IsLoaded() const { return m_loaded; }

private:
    std::vector<uint8_t> m_data;
    bool m_loaded = false;
};

} // namespace Halvex

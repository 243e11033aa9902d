#pragma once
#include <map>
#include <string>

namespace SettingsPeer {

// The settings store as a JSON file: one object whose members are the
// property names and whose string values are the properties' texts (UTF-8).
class SettingsStoreFile {
public:
    using Contents = std::map<std::wstring, std::wstring>;

    explicit SettingsStoreFile(std::wstring path) : m_path(std::move(path)) {}

    const std::wstring& path() const { return m_path; }
    // A missing file is an empty store; false for a file that is not such an object.
    bool load(Contents& contents) const;
    // Writes a new file beside it, then replaces the old one, so that a run
    // ended half way never leaves half a store.
    bool save(const Contents& contents) const;

private:
    std::wstring m_path;
};

} // namespace SettingsPeer

#pragma once
#include "System/ShlObjAPI.h"
#include "Version/FileVersionInfo.h"

#include <memory>
#include <string>

namespace Halvex {

// The version resource of a file in the Windows system folder.
class SystemFileVersionInfo : public FileVersionInfo {
public:
    // An empty wrapper stands for the real shell.
    explicit SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell = nullptr);
    ~SystemFileVersionInfo() override = default;

    // Loads the resource of `fileName` in the system folder. False, without
    // looking at any file, while the system folder cannot be had: a bare
    // name would otherwise be read from the root of the current drive.
    bool Load(const std::wstring& fileName) override;

    // The system folder followed by a backslash; "\" alone when it cannot be
    // had (nothing is cached then, so the next call asks again).
    std::wstring GetSystemFolder();

private:
    std::shared_ptr<ShlObjAPI> m_shell;
    std::wstring m_systemFolder;
};

} // namespace Halvex

#pragma once
#include "LogFile.h"

#include <windows.h>

#include <string>
#include <vector>

// The log of a program that runs in a process of its own: its lines go to the
// folder <group>\<module> below the logs folder once the machine's logging
// mechanism selects the file logger. A tool sets no logging identity, so its
// group is "_no_group" and its host "_no_host"; a hosted module's group is the
// name the host gave it, and it has no host (empty). For its
// life the object holds the machine-wide logging lock that other tests of the
// mechanism value take too, selects the file logger, and gives the tool's
// folder settings that let every level through; then it puts everything back.
class ToolLogFolder {
public:
    explicit ToolLogFolder(const std::wstring& moduleName, const std::wstring& group = L"_no_group",
                           const std::wstring& host = L"_no_host");
    ~ToolLogFolder();
    ToolLogFolder(const ToolLogFolder&) = delete;
    ToolLogFolder& operator=(const ToolLogFolder&) = delete;

    bool ready() const { return m_ready; }
    // Every line in the tool's files, oldest first.
    std::vector<TestSupport::LogLine> lines() const;
    // Forgets what was logged so far.
    void clear() const;

private:
    static constexpr unsigned kMaxFiles = 100;
    std::wstring file(unsigned index) const;

    HANDLE m_lock = nullptr;
    bool m_locked = false;
    bool m_ready = false;
    bool m_hadMechanism = false;
    DWORD m_mechanism = 0;
    std::wstring m_folder;
    std::wstring m_moduleName;
    std::wstring m_host;
};

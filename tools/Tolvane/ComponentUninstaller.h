#pragma once
#include <cstdint>
#include <string>

// The installer's command line: "<installer folder>\CvInst.exe" /uninstall
// "<component folder>\sentrel64.inf" (sentrel32.inf for platform 0). The
// folders are used as read from the registry.
std::wstring installerCommandLine(const std::wstring& installerFolder, const std::wstring& componentFolder,
                                  int32_t platform);

// Runs the suite's installer to remove the component and schedules this
// program, the registry file and the component's folder for deletion at the
// next restart. True when the installer ran to its end, whatever it answered.
bool uninstallComponent(const wchar_t* registryFile);

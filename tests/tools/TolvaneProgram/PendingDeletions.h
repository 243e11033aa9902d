#pragma once
#include <string>
#include <vector>

// The deletions scheduled for the next restart (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT), as the system records them in the
// Session Manager's PendingFileRenameOperations.
namespace PendingDeletions {

// The sources of the entries that delete (have no new name), in order,
// without the "\??\" prefix.
std::vector<std::wstring> list();

// Drops every entry whose source lies below `folder` (case-insensitive).
void forget(const std::wstring& folder);

} // namespace PendingDeletions

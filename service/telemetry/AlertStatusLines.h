#pragma once
// The status lines the alert service writes, one per step in the life of an
// alert. People and log scanners search for these texts, so every writer
// uses them from here and none spells its own.

namespace Kest {
namespace StatusLine {

// Information level.
constexpr const wchar_t kRequest[] = L"Sentrel Alert Status Request. Alert id: %ls, Instance id: %ls";
// Error level.
constexpr const wchar_t kSuppressedDuplicate[] =
    L"Sentrel Alert Status SuppressedDuplicate. Alert id: %ls, Instance id: %ls.";
// Information level.
constexpr const wchar_t kDelete[] = L"Sentrel Alert Status Delete. Alert id: %ls, Instance id: %ls.";
// Information level: dismissed because a delete request named the alert.
constexpr const wchar_t kDismissedByRequest[] = L"Sentrel Alert Status Dismissed. Alert id: %ls, Instance id: %ls.";
// Information level: dismissed after the viewer confirmed the Delete request.
// Differs from the line above only by its final full stop; scanners know both.
constexpr const wchar_t kDismissedByViewer[] = L"Sentrel Alert Status Dismissed. Alert id: %ls, Instance id: %ls";
// Information level.
constexpr const wchar_t kSuppressed[] = L"Sentrel Alert Status Suppressed. Alert id: %ls, Instance id: %ls";
// Information level; milliseconds since the alert information was created.
constexpr const wchar_t kShown[] = L"Sentrel Alert Status Shown. Alert id: %ls, Instance id: %ls TimeTaken: %llu";
// Error level; the preferred viewers joined by ",", then the plugin and the viewer error masks.
constexpr const wchar_t kFailed[] = L"Sentrel Alert Status Failed. Alert id: %ls, Instance id: %ls. Preferred viewers "
                                    L"list is %s. PluginErrorCode: %x ViewerErrorCode: %x";
// Information level.
constexpr const wchar_t kTimeout[] = L"Sentrel Alert Status Timeout. Alert id: %ls, Instance id: %ls";

} // namespace StatusLine
} // namespace Kest

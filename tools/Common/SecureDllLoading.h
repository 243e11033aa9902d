#pragma once

// Restricts every later library load of the process to the system folder.
// The tools bind only kernel32 (and shell32) when they load; everything else
// is bound on first use, so this must run before any such use. True only when
// the restriction took effect.
bool enableSecureDllLoading();

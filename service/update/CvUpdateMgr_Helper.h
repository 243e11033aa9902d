#pragma once
// Questions about the suite's update manager: whether an update runs, in
// which phase, whether a restart is pending; and requests to cancel updates
// or to remind the user of a restart. The update manager keeps a named event
// while an update runs, registry values for phase and restart, and an
// in-process agent that takes requests.
#include "Logging/Log.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace Kest {

class CCvUpdateMgr_Helper {
public:
    static const size_t kNameCapacity = MAX_PATH;

    // A null name stands for the empty one; a longer name is cut to fit the
    // buffer. Sets the logging identity this helper logs under when it is the
    // first of the process to log.
    explicit CCvUpdateMgr_Helper(const wchar_t* updateName)
    {
        ETWLogging::SetLogIdentity(nullptr, L"ZARIRU", nullptr, nullptr, 0);
        m_updateName[0] = L'\0';
        if (updateName) {
            wcsncpy(m_updateName, updateName, kNameCapacity - 1);
            m_updateName[kNameCapacity - 1] = L'\0';
        }
    }

    // The slot order of these operations is fixed; no destructor slot.
    virtual HRESULT CancelUpdate();
    virtual HRESULT CancelUpdate2(BOOL* sent);
    virtual HRESULT IsUpdateRunning(BOOL* running);
    virtual HRESULT IsUpdateRunning2(BOOL* running, DWORD* phase);
    virtual HRESULT IsRestartPending(BOOL* pending);
    virtual HRESULT RemindRestart();

    const wchar_t* UpdateName() const { return m_updateName; }
    // The update event's name for this update.
    std::wstring EventName() const;

    // Reads a value below HKEY_LOCAL_MACHINE through the ANSI registry API.
    // String values come back as UTF-16 and `size` then counts UTF-16 bytes
    // with the terminators. A Win32 error code; a buffer that is too small is
    // zero-filled and gives ERROR_MORE_DATA with the needed size.
    static DWORD ReadRegistryValue(const wchar_t* subkey, const wchar_t* valueName, DWORD* type, BYTE* data,
                                   DWORD* size);
    // Conversions in the thread's ANSI code page. `size` is the capacity in
    // characters of `out` (with the terminator) and receives the characters
    // written or, with ERROR_MORE_DATA or a null `out`, needed. `length` is
    // the input's length in characters, -1 for NUL-terminated text.
    static DWORD WideToNarrow(const wchar_t* text, int length, char* out, DWORD* size);
    static DWORD NarrowToWide(const char* text, int length, wchar_t* out, DWORD* size);

private:
    wchar_t m_updateName[kNameCapacity];
};

} // namespace Kest

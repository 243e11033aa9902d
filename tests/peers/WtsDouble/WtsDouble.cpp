// The session API double: the three functions of the system's session
// library that the service calls, answering from the state a test set
// (WtsDoubleState.h). Without a state it answers as Wine's own library does:
// no sessions, and every information query fails with last error 0.
#include "WtsDoubleState.h"

#include <windows.h>
#include <wtsapi32.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace {

using WtsDouble::State;
using WtsDouble::StateLock;

// A view of the test's state for the length of one call.
class StateView {
public:
    StateView()
    {
        wchar_t name[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(WtsDouble::kStateVariable, name, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return;
        m_mapping = OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, name);
        if (!m_mapping)
            return;
        void* view = MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(State));
        if (view && static_cast<State*>(view)->magic == WtsDouble::kStateMagic)
            m_state = static_cast<State*>(view);
        else if (view)
            UnmapViewOfFile(view);
    }
    ~StateView()
    {
        if (m_state)
            UnmapViewOfFile(m_state);
        if (m_mapping)
            CloseHandle(m_mapping);
    }
    StateView(const StateView&) = delete;
    StateView& operator=(const StateView&) = delete;

    State* get() const { return m_state; }

private:
    HANDLE m_mapping = nullptr;
    State* m_state = nullptr;
};

void* allocate(size_t size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size == 0 ? 1 : size);
}

} // namespace

extern "C" {

// Lets a test see that this double, not the system's library, was loaded.
int WtsDoubleMarker()
{
    return 1;
}

BOOL WINAPI WTSEnumerateSessionsW(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW* sessionInfo, DWORD* count)
{
    if (!sessionInfo || !count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *sessionInfo = nullptr;
    *count = 0;
    WtsDouble::SessionRecord records[WtsDouble::kMostEntries] = {};
    uint32_t recordCount = 0;
    StateView view;
    if (State* state = view.get()) {
        InterlockedIncrement(&state->enumerateCalls);
        StateLock lock(state);
        if (state->enumerateFails) {
            SetLastError(state->enumerateError);
            return FALSE;
        }
        recordCount = state->sessionCount < WtsDouble::kMostEntries ? state->sessionCount : WtsDouble::kMostEntries;
        std::memcpy(records, state->sessions, sizeof records);
    }
    // One block, as the system hands it out: the records, then their names.
    constexpr size_t kNameLength = 16;
    const size_t namesOffset = recordCount * sizeof(WTS_SESSION_INFOW);
    auto* block = static_cast<char*>(allocate(namesOffset + recordCount * kNameLength * sizeof(wchar_t)));
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    auto* sessions = reinterpret_cast<PWTS_SESSION_INFOW>(block);
    for (uint32_t i = 0; i < recordCount; ++i) {
        auto* name = reinterpret_cast<wchar_t*>(block + namesOffset) + i * kNameLength;
        const std::wstring text = records[i].id == 0 ? L"Services" : L"Console#" + std::to_wstring(records[i].id);
        text.copy(name, kNameLength - 1);
        sessions[i].SessionId = records[i].id;
        sessions[i].pWinStationName = name;
        sessions[i].State = static_cast<WTS_CONNECTSTATE_CLASS>(records[i].state);
    }
    *sessionInfo = sessions;
    *count = recordCount;
    return TRUE;
}

BOOL WINAPI WTSQuerySessionInformationW(HANDLE, DWORD sessionId, WTS_INFO_CLASS infoClass, LPWSTR* buffer,
                                        DWORD* bytesReturned)
{
    if (!buffer || !bytesReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *buffer = nullptr;
    *bytesReturned = 0;
    WtsDouble::InfoRecord record{};
    bool known = false;
    StateView view;
    if (State* state = view.get()) {
        InterlockedIncrement(&state->queryCalls);
        StateLock lock(state);
        for (uint32_t i = 0; i < state->infoCount && i < WtsDouble::kMostEntries; ++i) {
            if (state->infos[i].id == sessionId) {
                record = state->infos[i];
                known = true;
                break;
            }
        }
    }
    if (infoClass != WTSSessionInfo || !known) {
        SetLastError(0);
        return FALSE;
    }
    if (record.fails) {
        SetLastError(record.error);
        return FALSE;
    }
    WTSINFOW info{};
    info.State = WTSActive;
    info.SessionId = sessionId;
    info.LogonTime.QuadPart = record.logonTime;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    info.CurrentTime.QuadPart = static_cast<LONGLONG>((static_cast<uint64_t>(now.dwHighDateTime) << 32) |
                                                      now.dwLowDateTime);
    auto* block = static_cast<char*>(allocate(record.size));
    if (!block) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    std::memcpy(block, &info, record.size < sizeof info ? record.size : sizeof info);
    *buffer = reinterpret_cast<LPWSTR>(block);
    *bytesReturned = record.size;
    return TRUE;
}

void WINAPI WTSFreeMemory(PVOID memory)
{
    if (memory)
        HeapFree(GetProcessHeap(), 0, memory);
}

} // extern "C"

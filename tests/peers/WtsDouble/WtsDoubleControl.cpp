#include "WtsDoubleControl.h"

#include "WtsDoubleState.h"

#include <windows.h>
#include <wtsapi32.h>

#include <atomic>
#include <cstring>

namespace WtsDouble {

namespace {

std::wstring uniqueStateName()
{
    static std::atomic<unsigned> number{0};
    return L"Local\\WtsDoubleState-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(GetTickCount64()) + L"-" + std::to_wstring(++number);
}

} // namespace

WtsDoubleControl::WtsDoubleControl() : m_name(uniqueStateName())
{
    m_mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(State), m_name.c_str());
    if (!m_mapping)
        return;
    void* view = MapViewOfFile(m_mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(State));
    if (!view)
        return;
    m_state = static_cast<State*>(view);
    std::memset(m_state, 0, sizeof(State));
    m_state->magic = kStateMagic;
    SetEnvironmentVariableW(kStateVariable, m_name.c_str());
}

WtsDoubleControl::~WtsDoubleControl()
{
    SetEnvironmentVariableW(kStateVariable, nullptr);
    if (m_state)
        UnmapViewOfFile(m_state);
    if (m_mapping)
        CloseHandle(m_mapping);
}

bool WtsDoubleControl::doubleLoaded()
{
    const HMODULE library = GetModuleHandleW(L"wtsapi32.dll");
    return library && GetProcAddress(library, "WtsDoubleMarker") != nullptr;
}

void WtsDoubleControl::setSessions(const std::vector<Session>& sessions)
{
    if (!m_state)
        return;
    StateLock lock(m_state);
    m_state->sessionCount = 0;
    for (const Session& session : sessions) {
        if (m_state->sessionCount == kMostEntries)
            break;
        m_state->sessions[m_state->sessionCount++] = {session.id, static_cast<uint32_t>(session.state)};
    }
}

void WtsDoubleControl::setActiveSession(uint32_t sessionId)
{
    setSessions({{sessionId, ConnectState::Active}});
}

void WtsDoubleControl::failListing(uint32_t error)
{
    if (!m_state)
        return;
    StateLock lock(m_state);
    m_state->enumerateFails = 1;
    m_state->enumerateError = error;
}

void WtsDoubleControl::succeedListing()
{
    if (!m_state)
        return;
    StateLock lock(m_state);
    m_state->enumerateFails = 0;
    m_state->enumerateError = 0;
}

void WtsDoubleControl::setLogonTime(uint32_t sessionId, uint64_t fileTimeTicks)
{
    updateInfo(sessionId, 0, 0, sizeof(WTSINFOW), fileTimeTicks);
}

void WtsDoubleControl::setLoggedOnSecondsAgo(uint32_t sessionId, uint64_t seconds)
{
    setLogonTime(sessionId, now() - seconds * 10000000ull);
}

void WtsDoubleControl::setInfoSize(uint32_t sessionId, uint32_t size)
{
    updateInfo(sessionId, 0, 0, size, now());
}

void WtsDoubleControl::failInfo(uint32_t sessionId, uint32_t error)
{
    updateInfo(sessionId, 1, error, 0, 0);
}

void WtsDoubleControl::updateInfo(uint32_t sessionId, uint32_t fails, uint32_t error, uint32_t size,
                                  uint64_t logonTime)
{
    if (!m_state)
        return;
    StateLock lock(m_state);
    uint32_t index = 0;
    while (index < m_state->infoCount && m_state->infos[index].id != sessionId)
        ++index;
    if (index == kMostEntries)
        return;
    if (index == m_state->infoCount)
        ++m_state->infoCount;
    m_state->infos[index] = {sessionId, fails, error, size, static_cast<int64_t>(logonTime)};
}

uint32_t WtsDoubleControl::listingCalls() const
{
    return m_state ? static_cast<uint32_t>(InterlockedCompareExchange(&m_state->enumerateCalls, 0, 0)) : 0;
}

uint32_t WtsDoubleControl::infoCalls() const
{
    return m_state ? static_cast<uint32_t>(InterlockedCompareExchange(&m_state->queryCalls, 0, 0)) : 0;
}

uint64_t WtsDoubleControl::now()
{
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace WtsDouble

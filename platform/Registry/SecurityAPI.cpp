#include "Registry/SecurityAPI.h"

#include "System/LoadSystemLibrary.h"

namespace Halvex {
namespace internal {

namespace {

const char* const kFunctionNames[SecurityAPI::FunctionCount] = {
    "SetEntriesInAclW",
    "GetFileSecurityW",
    "SetFileSecurityW",
    "LookupAccountSidW",
    "GetExplicitEntriesFromAclW",
    "RegGetKeySecurity",
    "RegSetKeySecurity",
    "InitializeSecurityDescriptor",
    "SetSecurityDescriptorDacl",
    "GetSecurityDescriptorDacl",
    "AllocateAndInitializeSid",
    "FreeSid",
    "OpenThreadToken",
    "GetTokenInformation",
    "InitializeAcl",
    "InitializeSid",
    "GetSidSubAuthority",
    "AddAccessAllowedAce",
    "GetSecurityInfo",
    "SetSecurityInfo",
    "QueryServiceStatusEx",
    "GetAce",
    "DeleteAce",
    "EqualSid",
    "GetAclInformation",
    "SetSecurityDescriptorControl",
};

// A call that could not be made fails like a missing function would.
BOOL notCalled()
{
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
    ~CriticalSectionLock() { LeaveCriticalSection(&m_section); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CRITICAL_SECTION& m_section;
};

} // namespace

SecurityAPI::SecurityAPI(std::shared_ptr<OSInfoProxy> osInfo, std::shared_ptr<ShlObjAPI> shell)
    : m_shell(shell ? std::move(shell) : std::make_shared<ShlObjAPI>())
{
    InitializeCriticalSectionAndSpinCount(&m_lock, 4000);
    m_isNT = osInfo ? osInfo->IsNTPlatform() : OSInfoProxy().IsNTPlatform();
}

SecurityAPI::~SecurityAPI()
{
    DeleteCriticalSection(&m_lock);
    if (m_module)
        FreeLibrary(m_module);
}

bool SecurityAPI::Load()
{
    CriticalSectionLock hold(m_lock);
    if (!m_module) {
        m_module = LoadSystemLibrary(*m_shell, L"advapi32.dll", 0);
        if (!m_module)
            return false;
    }
    bool all = true;
    for (int i = 0; i < FunctionCount; ++i) {
        m_functions[i] = GetProcAddress(m_module, kFunctionNames[i]);
        all = all && m_functions[i] != nullptr;
    }
    return all;
}

BOOL SecurityAPI::AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD a0, DWORD a1,
                                           DWORD a2, DWORD a3, DWORD a4, DWORD a5, DWORD a6, DWORD a7, PSID* sid)
{
    const auto call = Bound<decltype(&::AllocateAndInitializeSid)>(AllocateAndInitializeSidFn);
    return call ? call(authority, count, a0, a1, a2, a3, a4, a5, a6, a7, sid) : notCalled();
}

PVOID SecurityAPI::FreeSid(PSID sid)
{
    const auto call = Bound<decltype(&::FreeSid)>(FreeSidFn);
    return call ? call(sid) : sid;
}

BOOL SecurityAPI::GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl,
                                            LPBOOL defaulted)
{
    const auto call = Bound<decltype(&::GetSecurityDescriptorDacl)>(GetSecurityDescriptorDaclFn);
    return call ? call(descriptor, present, dacl, defaulted) : notCalled();
}

BOOL SecurityAPI::InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision)
{
    const auto call = Bound<decltype(&::InitializeSecurityDescriptor)>(InitializeSecurityDescriptorFn);
    return call ? call(descriptor, revision) : notCalled();
}

LONG SecurityAPI::RegGetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor,
                                    LPDWORD size)
{
    const auto call = Bound<decltype(&::RegGetKeySecurity)>(RegGetKeySecurityFn);
    return call ? call(key, info, descriptor, size) : 1;
}

LONG SecurityAPI::RegSetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor)
{
    const auto call = Bound<decltype(&::RegSetKeySecurity)>(RegSetKeySecurityFn);
    return call ? call(key, info, descriptor) : 1;
}

DWORD SecurityAPI::SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl)
{
    const auto call = Bound<decltype(&::SetEntriesInAclW)>(SetEntriesInAclWFn);
    return call ? call(count, entries, oldAcl, newAcl) : 1;
}

BOOL SecurityAPI::SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted)
{
    const auto call = Bound<decltype(&::SetSecurityDescriptorDacl)>(SetSecurityDescriptorDaclFn);
    return call ? call(descriptor, present, dacl, defaulted) : notCalled();
}

} // namespace internal
} // namespace Halvex

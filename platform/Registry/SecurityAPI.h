#pragma once
#include "OSInfo/OSInfoProxy.h"
#include "System/ShlObjAPI.h"

#include <windows.h>
#include <aclapi.h>

#include <memory>

namespace Halvex {
namespace internal {

// The security functions of the system's advapi32.dll, bound at run time from
// the system folder. Each forwarder fails without calling (FALSE, or 1 for
// the functions that return an error code) while its function is not bound
// or the system is not of the NT family. One object per operation.
class SecurityAPI {
public:
    enum Function {
        SetEntriesInAclWFn,
        GetFileSecurityWFn,
        SetFileSecurityWFn,
        LookupAccountSidWFn,
        GetExplicitEntriesFromAclWFn,
        RegGetKeySecurityFn,
        RegSetKeySecurityFn,
        InitializeSecurityDescriptorFn,
        SetSecurityDescriptorDaclFn,
        GetSecurityDescriptorDaclFn,
        AllocateAndInitializeSidFn,
        FreeSidFn,
        OpenThreadTokenFn,
        GetTokenInformationFn,
        InitializeAclFn,
        InitializeSidFn,
        GetSidSubAuthorityFn,
        AddAccessAllowedAceFn,
        GetSecurityInfoFn,
        SetSecurityInfoFn,
        QueryServiceStatusExFn,
        GetAceFn,
        DeleteAceFn,
        EqualSidFn,
        GetAclInformationFn,
        SetSecurityDescriptorControlFn,
        FunctionCount
    };

    // Empty collaborators stand for the real OS information and shell.
    explicit SecurityAPI(std::shared_ptr<OSInfoProxy> osInfo = nullptr, std::shared_ptr<ShlObjAPI> shell = nullptr);
    ~SecurityAPI();
    SecurityAPI(const SecurityAPI&) = delete;
    SecurityAPI& operator=(const SecurityAPI&) = delete;

    // Loads the library once and binds every function; true only when all
    // of them are bound.
    bool Load();
    bool IsNT() const { return m_isNT; }

    BOOL AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD a0, DWORD a1, DWORD a2,
                                  DWORD a3, DWORD a4, DWORD a5, DWORD a6, DWORD a7, PSID* sid);
    PVOID FreeSid(PSID sid);
    BOOL GetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, LPBOOL present, PACL* dacl, LPBOOL defaulted);
    BOOL InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor, DWORD revision);
    LONG RegGetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor, LPDWORD size);
    LONG RegSetKeySecurity(HKEY key, SECURITY_INFORMATION info, PSECURITY_DESCRIPTOR descriptor);
    DWORD SetEntriesInAclW(ULONG count, PEXPLICIT_ACCESS_W entries, PACL oldAcl, PACL* newAcl);
    BOOL SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR descriptor, BOOL present, PACL dacl, BOOL defaulted);

private:
    // The bound function, or null while it may not be called.
    template <typename Fn>
    Fn Bound(Function which) const
    {
        if (!m_isNT || !m_functions[which])
            return nullptr;
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(m_functions[which]));
    }

    HMODULE m_module = nullptr;
    CRITICAL_SECTION m_lock;
    bool m_isNT = false;
    FARPROC m_functions[FunctionCount] = {};
    std::shared_ptr<ShlObjAPI> m_shell;
};

} // namespace internal
} // namespace Halvex

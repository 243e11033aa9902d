#include "Logging/LogFolderSecurity.h"

#include "FileSystem/FileSystem.h"
#include "System/LoadSystemLibrary.h"

#include <sddl.h>

#include <vector>

namespace ETWLogging {

namespace {

using OpenProcessTokenFn = BOOL(WINAPI*)(HANDLE, DWORD, PHANDLE);
using GetTokenInformationFn = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
using ConvertSidToStringSidWFn = BOOL(WINAPI*)(PSID, LPWSTR*);
using ConvertStringSecurityDescriptorToSecurityDescriptorWFn = BOOL(WINAPI*)(LPCWSTR, DWORD,
                                                                              PSECURITY_DESCRIPTOR*, PULONG);

template <typename Fn>
Fn bind(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The account this process runs as, as SDDL text; empty when unknown.
std::wstring accountSid(HMODULE advapi)
{
    const auto openToken = bind<OpenProcessTokenFn>(advapi, "OpenProcessToken");
    const auto tokenInformation = bind<GetTokenInformationFn>(advapi, "GetTokenInformation");
    const auto sidToText = bind<ConvertSidToStringSidWFn>(advapi, "ConvertSidToStringSidW");
    if (!openToken || !tokenInformation || !sidToText)
        return std::wstring();
    HANDLE token = nullptr;
    if (!openToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return std::wstring();
    DWORD size = 0;
    tokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> user(size ? size : 1);
    std::wstring text;
    LPWSTR sid = nullptr;
    if (size && tokenInformation(token, TokenUser, user.data(), size, &size) &&
        sidToText(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        text = sid;
        LocalFree(sid);
    }
    CloseHandle(token);
    return text;
}

// Full control for SYSTEM, the administrators and the account, reading for
// the users, inherited by everything inside and by nothing from above.
PSECURITY_DESCRIPTOR ownFolderSecurity()
{
    HMODULE advapi = Halvex::internal::LoadSystemLibrary(L"advapi32.dll");
    if (!advapi)
        return nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring account = accountSid(advapi);
    const auto fromText = bind<ConvertStringSecurityDescriptorToSecurityDescriptorWFn>(
        advapi, "ConvertStringSecurityDescriptorToSecurityDescriptorW");
    if (!account.empty() && fromText) {
        const std::wstring sddl =
            L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + account + L")(A;OICI;FRFX;;;BU)";
        if (!fromText(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
            descriptor = nullptr;
    }
    FreeLibrary(advapi);
    return descriptor;
}

} // namespace

DWORD CreateOwnLogFolder(const std::wstring& folder, MakeFolderFn makeFolder)
{
    if (!makeFolder)
        makeFolder = CreateDirectoryW;
    if (Halvex::DirectoryExists(folder.c_str()))
        return ERROR_SUCCESS;
    const size_t slash = folder.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0)
        return ERROR_INVALID_PARAMETER;
    const DWORD parents = Halvex::CreateDirectoryPath(folder.substr(0, slash).c_str());
    if (parents != ERROR_SUCCESS)
        return parents;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), ownFolderSecurity(), FALSE};
    // Without its own security the folder is still made, as the ones above.
    const BOOL made = makeFolder(folder.c_str(), attributes.lpSecurityDescriptor ? &attributes : nullptr);
    const DWORD error = made ? ERROR_SUCCESS : GetLastError();
    if (attributes.lpSecurityDescriptor)
        LocalFree(attributes.lpSecurityDescriptor);
    return error == ERROR_ALREADY_EXISTS && Halvex::DirectoryExists(folder.c_str()) ? ERROR_SUCCESS : error;
}

} // namespace ETWLogging

#include "trust/TrustCryptMsg.h"

#include <softpub.h>
#include <wintrust.h>

namespace Halvex {
namespace trust {

bool TrustMsgParam(HCRYPTMSG msg, DWORD type, DWORD index, std::vector<BYTE>& out)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(msg, type, index, nullptr, &size) || size == 0)
        return false;
    out.assign(size, 0);
    if (!CryptMsgGetParam(msg, type, index, out.data(), &size))
        return false;
    out.resize(size);
    return size > 0;
}

PCCERT_CHAIN_CONTEXT TrustBuildChain(PCCERT_CONTEXT cert, const FILETIME* when, HCERTSTORE store, const char* usage,
                                     DWORD flags)
{
    LPSTR usages[] = {const_cast<LPSTR>(usage)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    FILETIME at{};
    if (when)
        at = *when;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(nullptr, cert, when ? &at : nullptr, store, &para, flags, nullptr, &chain))
        return nullptr;
    return chain;
}

LONG TrustWinVerify(const wchar_t* path, HANDLE file, DWORD providerFlags, bool withState)
{
    // The hash is read through the handle when one is given (Wine then
    // ignores the path); it is read from the start.
    if (file && file != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER zero{};
        SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    }
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = withState ? WTD_STATEACTION_VERIFY : 0;
    data.dwProvFlags = providerFlags;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG answer = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    if (withState) {
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    }
    return answer;
}

} // namespace trust
} // namespace Halvex

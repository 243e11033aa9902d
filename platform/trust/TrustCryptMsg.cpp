#include "trust/TrustCryptMsg.h"

#include "trust/TrustVerification.h"

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
    return TrustVerification(path, file, providerFlags, withState).answer();
}

} // namespace trust
} // namespace Halvex

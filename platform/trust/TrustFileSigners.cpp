#include "trust/TrustFileSigners.h"

#include "trust/TrustCryptMsg.h"
#include "trust/TrustHandles.h"
#include "trust/TrustSignedFile.h"
#include "trust/TrustTimestamp.h"

#include <softpub.h>
#include <wintrust.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace Halvex {
namespace trust {

std::wstring TrustSerialText(const CRYPT_INTEGER_BLOB& serial)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    if (!serial.pbData)
        return text;
    for (DWORD i = serial.cbData; i > 0; --i) {
        BYTE b = serial.pbData[i - 1];
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

bool serialExcluded(const CRYPT_INTEGER_BLOB& serial, const wchar_t* const* serials)
{
    if (!serials)
        return false;
    std::wstring text = TrustSerialText(serial);
    if (text.empty())
        return false;
    for (const wchar_t* const* s = serials; *s; ++s)
        if (_wcsicmp(*s, text.c_str()) == 0)
            return true;
    return false;
}

bool nameListed(PCCERT_CONTEXT cert, const wchar_t* const* names)
{
    DWORD count = CertGetNameStringW(cert, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (count <= 1)
        return false;
    std::vector<wchar_t> name(count);
    if (CertGetNameStringW(cert, CERT_NAME_FRIENDLY_DISPLAY_TYPE, 0, nullptr, name.data(), count) <= 1)
        return false;
    if (!names)
        return true;
    for (const wchar_t* const* n = names; *n; ++n)
        if (_wcsicmp(*n, name.data()) == 0)
            return true;
    return false;
}

bool rootListedIn(PCCERT_CHAIN_CONTEXT chain, const TrustThumbprint* roots, DWORD rootCount)
{
    for (DWORD c = 0; c < chain->cChain; ++c) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[c];
        if (!simple || simple->cElement == 0)
            continue;
        PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        BYTE sha1[20];
        DWORD size = sizeof(sha1);
        if (!CertGetCertificateContextProperty(root, CERT_SHA1_HASH_PROP_ID, sha1, &size) || size != sizeof(sha1))
            continue;
        for (DWORD r = 0; r < rootCount; ++r)
            if (roots[r].bytes && roots[r].size == sizeof(sha1) && std::memcmp(roots[r].bytes, sha1, sizeof(sha1)) == 0)
                return true;
    }
    return false;
}

bool rootListed(PCCERT_CHAIN_CONTEXT chain, const TrustThumbprint* roots, DWORD rootCount)
{
    if (!roots || rootCount == 0)
        return true;
    if (rootListedIn(chain, roots, rootCount))
        return true;
    for (DWORD i = 0; i < chain->cLowerQualityChainContext; ++i)
        if (chain->rgpLowerQualityChainContext[i] &&
            rootListedIn(chain->rgpLowerQualityChainContext[i], roots, rootCount))
            return true;
    return false;
}

bool authenticodePolicyHolds(PCCERT_CHAIN_CONTEXT chain)
{
    CERT_CHAIN_POLICY_PARA para{};
    para.cbSize = sizeof(para);
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    if (CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE_TS, chain, &para, &status))
        return status.dwError == 0;
    // Wine has no timestamp variant of the policy and says so with "not
    // found"; only then is the plain policy asked instead.
    DWORD error = GetLastError();
    if (error != ERROR_FILE_NOT_FOUND && error != static_cast<DWORD>(CRYPT_E_NOT_FOUND))
        return false;
    status = CERT_CHAIN_POLICY_STATUS{};
    status.cbSize = sizeof(status);
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain, &para, &status) &&
           status.dwError == 0;
}

bool signerPasses(TrustSignedFile& file, HCRYPTMSG msg, HCERTSTORE store, DWORD index, const wchar_t* const* names,
                  const TrustThumbprint* roots, DWORD rootCount, const wchar_t* const* serials)
{
    std::vector<BYTE> buffer;
    if (!TrustMsgParam(msg, CMSG_SIGNER_INFO_PARAM, index, buffer) || buffer.size() < sizeof(CMSG_SIGNER_INFO))
        return false;
    const auto& signer = *reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());

    if (serialExcluded(signer.SerialNumber, serials))
        return false;

    CERT_INFO lookup{};
    lookup.Issuer = signer.Issuer;
    lookup.SerialNumber = signer.SerialNumber;
    CertContext cert(CertGetSubjectCertificateFromStore(store, kEncoding, &lookup));
    if (!cert || !nameListed(cert.get(), names))
        return false;

    FILETIME when{};
    TimestampResult stamp = TrustReadTimestamp(msg, index, signer, when);
    if (stamp == TimestampResult::Failed)
        return false;

    CertChain chain(TrustBuildChain(cert.get(), stamp == TimestampResult::Time ? &when : nullptr, store,
                                    szOID_PKIX_KP_CODE_SIGNING,
                                    CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_RETURN_LOWER_QUALITY_CONTEXTS));
    if (!chain)
        return false;
    if (chain->TrustStatus.dwErrorStatus != 0)
        return false;
    if (!rootListed(chain.get(), roots, rootCount))
        return false;
    if (!authenticodePolicyHolds(chain.get()))
        return false;

    // The file-level check speaks for the primary signature only: a further
    // signer that merely carries a copied certificate must prove it signed
    // the content.
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = index;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(cert.get());
    if (!CryptMsgControl(msg, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify))
        return false;
    // Last, and once for the whole check: the file hash, the one test that
    // reads the whole file.
    return file.hashIntact();
}

} // namespace
} // namespace trust
} // namespace Halvex

bool TrustCheckFileSigners(const wchar_t* path, const wchar_t* const* names, const TrustThumbprint* roots,
                           DWORD rootCount, const wchar_t* const* serials, HANDLE file)
{
    if (!path || !*path)
        return false;
    Halvex::trust::TrustSignedFile signedFile(path, file);
    return TrustCheckFileSigners(signedFile, names, roots, rootCount, serials);
}

bool TrustCheckFileSigners(Halvex::trust::TrustSignedFile& file, const wchar_t* const* names,
                           const TrustThumbprint* roots, DWORD rootCount, const wchar_t* const* serials)
{
    using namespace Halvex::trust;
    // The signers are tested on the message read through the handle, and
    // the hash, read through the same handle of a file no one can write,
    // only for a signer that passed everything else.
    HCRYPTMSG msg = file.message();
    HCERTSTORE store = file.store();
    if (!msg || !store)
        return false;
    DWORD count = 0;
    DWORD size = sizeof(count);
    if (!CryptMsgGetParam(msg, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size))
        return false;
    for (DWORD i = 0; i < count; ++i)
        if (signerPasses(file, msg, store, i, names, roots, rootCount, serials))
            return true;
    return false;
}

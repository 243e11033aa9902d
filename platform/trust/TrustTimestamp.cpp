#include "trust/TrustTimestamp.h"

#include "trust/TrustCryptMsg.h"
#include "trust/TrustHandles.h"

#include <cstring>
#include <string>

namespace Halvex {
namespace trust {

namespace {

const char kCounterSignOid[] = "1.2.840.113549.1.9.6";
const char kRfc3161Oid[] = "1.3.6.1.4.1.311.3.3.1";
const char kSigningTimeOid[] = "1.2.840.113549.1.9.5";
const char kMessageDigestOid[] = "1.2.840.113549.1.9.4";

// One DER element inside [pos, end): tag, content range. False when it does
// not fit, so nothing is ever read past the buffer.
struct Der {
    BYTE tag = 0;
    const BYTE* content = nullptr;
    size_t size = 0;
    const BYTE* next = nullptr;
};

bool readDer(const BYTE* pos, const BYTE* end, Der& out)
{
    if (!pos || end - pos < 2)
        return false;
    out.tag = pos[0];
    size_t len = pos[1];
    const BYTE* p = pos + 2;
    if (len & 0x80) {
        size_t bytes = len & 0x7F;
        if (bytes == 0 || bytes > 4 || static_cast<size_t>(end - p) < bytes)
            return false;
        len = 0;
        for (size_t i = 0; i < bytes; ++i)
            len = (len << 8) | p[i];
        p += bytes;
    }
    if (static_cast<size_t>(end - p) < len)
        return false;
    out.content = p;
    out.size = len;
    out.next = p + len;
    return true;
}

const CRYPT_ATTRIBUTE* findAttribute(const CRYPT_ATTRIBUTES& attrs, const char* oid)
{
    for (DWORD i = 0; i < attrs.cAttr; ++i)
        if (attrs.rgAttr[i].pszObjId && std::strcmp(attrs.rgAttr[i].pszObjId, oid) == 0)
            return &attrs.rgAttr[i];
    return nullptr;
}

bool sameBytes(const std::vector<BYTE>& a, const BYTE* b, size_t size)
{
    return !a.empty() && a.size() == size && std::memcmp(a.data(), b, size) == 0;
}

// The signer's signature value, the bytes a countersigner hashes.
std::vector<BYTE> signatureValue(const CMSG_SIGNER_INFO& signer)
{
    const BYTE* p = signer.EncryptedHash.pbData;
    if (!p)
        return {};
    return std::vector<BYTE>(p, p + signer.EncryptedHash.cbData);
}

// "1.2.840..." from the content of a DER object identifier; empty when malformed.
std::string oidText(const BYTE* p, size_t size)
{
    if (!p || size == 0 || size > 64)
        return {};
    std::string text;
    unsigned long long arc = 0;
    bool first = true;
    for (size_t i = 0; i < size; ++i) {
        if (arc > (~0ULL >> 7))
            return {};
        arc = (arc << 7) | (p[i] & 0x7F);
        if (p[i] & 0x80) {
            if (i + 1 == size)
                return {};
            continue;
        }
        if (first) {
            unsigned long long top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            text = std::to_string(top) + "." + std::to_string(arc - top * 40);
            first = false;
        } else {
            text += "." + std::to_string(arc);
        }
        arc = 0;
    }
    return text;
}

// A legacy countersignature speaks for the signer when its message digest
// attribute is the hash of the signer's signature value.
bool counterSignerMatches(const CMSG_SIGNER_INFO& counter, const CMSG_SIGNER_INFO& signer)
{
    const CRYPT_ATTRIBUTE* digest = findAttribute(counter.AuthAttrs, kMessageDigestOid);
    if (!digest || digest->cValue == 0)
        return false;
    Der octets;
    const CRYPT_ATTR_BLOB& blob = digest->rgValue[0];
    if (!readDer(blob.pbData, blob.pbData + blob.cbData, octets) || octets.tag != 0x04)
        return false;
    std::vector<BYTE> value = signatureValue(signer);
    return sameBytes(TrustHash(counter.HashAlgorithm.pszObjId, value.data(), value.size()), octets.content,
                     octets.size);
}

// An RFC 3161 token speaks for the signer when the message imprint of its
// TSTInfo is the hash of the signer's signature value, and its own signer's
// signature holds. `authority` and `store` are the token signer's
// certificate and the token's certificates.
bool tokenMatches(HCRYPTMSG token, const CMSG_SIGNER_INFO& signer, CertStore& store, CertContext& authority)
{
    std::vector<BYTE> content;
    if (!TrustMsgParam(token, CMSG_CONTENT_PARAM, 0, content))
        return false;
    const BYTE* start = content.data();
    const BYTE* end = content.data() + content.size();
    // Wine hands the content out still wrapped in its OCTET STRING.
    Der wrapper;
    if (readDer(start, end, wrapper) && wrapper.tag == 0x04 && wrapper.next == end) {
        start = wrapper.content;
        end = wrapper.content + wrapper.size;
    }
    // TSTInfo ::= SEQUENCE { version, policy, messageImprint SEQUENCE { AlgorithmIdentifier, OCTET STRING }, ... }
    Der info, version, policy, imprint, algorithm, oid, hashed;
    if (!readDer(start, end, info) || info.tag != 0x30)
        return false;
    const BYTE* infoEnd = info.content + info.size;
    if (!readDer(info.content, infoEnd, version) || !readDer(version.next, infoEnd, policy) ||
        !readDer(policy.next, infoEnd, imprint) || imprint.tag != 0x30)
        return false;
    const BYTE* imprintEnd = imprint.content + imprint.size;
    if (!readDer(imprint.content, imprintEnd, algorithm) || algorithm.tag != 0x30 ||
        !readDer(algorithm.next, imprintEnd, hashed) || hashed.tag != 0x04)
        return false;
    if (!readDer(algorithm.content, algorithm.content + algorithm.size, oid) || oid.tag != 0x06)
        return false;
    std::string algorithmOid = oidText(oid.content, oid.size);
    if (algorithmOid.empty())
        return false;
    std::vector<BYTE> value = signatureValue(signer);
    if (!sameBytes(TrustHash(algorithmOid.c_str(), value.data(), value.size()), hashed.content, hashed.size))
        return false;

    // The token's own signature over the TSTInfo.
    store.reset(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, token));
    if (!store)
        return false;
    std::vector<BYTE> certInfo;
    if (!TrustMsgParam(token, CMSG_SIGNER_CERT_INFO_PARAM, 0, certInfo))
        return false;
    authority.reset(CertGetSubjectCertificateFromStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                       reinterpret_cast<PCERT_INFO>(certInfo.data())));
    if (!authority)
        return false;
    CMSG_CTRL_VERIFY_SIGNATURE_EX_PARA verify{};
    verify.cbSize = sizeof(verify);
    verify.dwSignerIndex = 0;
    verify.dwSignerType = CMSG_VERIFY_SIGNER_CERT;
    verify.pvSigner = const_cast<CERT_CONTEXT*>(authority.get());
    return CryptMsgControl(token, 0, CMSG_CTRL_VERIFY_SIGNATURE_EX, &verify) != FALSE;
}

// A legacy countersignature's own signature, over its authenticated
// attributes, by the certificate it names in the signature's certificates.
// Wine's check of it fails whatever the signature: there no legacy
// timestamp counts.
bool counterSignatureHolds(HCRYPTMSG msg, DWORD index, const CRYPT_ATTR_BLOB& encoded,
                           const CMSG_SIGNER_INFO& counter, CertStore& store, CertContext& authority)
{
    store.reset(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, msg));
    if (!store)
        return false;
    CERT_INFO lookup{};
    lookup.Issuer = counter.Issuer;
    lookup.SerialNumber = counter.SerialNumber;
    authority.reset(CertGetSubjectCertificateFromStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, &lookup));
    if (!authority)
        return false;
    std::vector<BYTE> signerBytes;
    if (!TrustMsgParam(msg, CMSG_ENCODED_SIGNER, index, signerBytes))
        return false;
    return CryptMsgVerifyCountersignatureEncodedEx(0, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, signerBytes.data(),
                                                   static_cast<DWORD>(signerBytes.size()), encoded.pbData,
                                                   encoded.cbData, CMSG_VERIFY_SIGNER_CERT,
                                                   const_cast<CERT_CONTEXT*>(authority.get()), 0, nullptr) != FALSE;
}

// A time counts only from an authority whose certificate chains, without
// error, to a trusted root and is meant for time stamping.
bool authorityTrusted(PCCERT_CONTEXT authority, HCERTSTORE store, const FILETIME& when)
{
    CertChain chain(TrustBuildChain(authority, &when, store, szOID_PKIX_KP_TIMESTAMP_SIGNING,
                                    CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL));
    return chain && chain->TrustStatus.dwErrorStatus == 0;
}

bool readSigningTime(const CMSG_SIGNER_INFO& counter, bool& found, FILETIME& time)
{
    found = false;
    const CRYPT_ATTRIBUTE* attr = findAttribute(counter.AuthAttrs, kSigningTimeOid);
    if (!attr || attr->cValue == 0 || attr->rgValue[0].cbData != 15)
        return true;
    if (!TrustParseUtcTime(attr->rgValue[0].pbData, attr->rgValue[0].cbData, time))
        return false;
    found = true;
    return true;
}

} // namespace

std::vector<BYTE> TrustHash(const char* oid, const BYTE* data, size_t size)
{
    if (!oid)
        return {};
    ALG_ID alg = CertOIDToAlgId(oid);
    if (alg == 0) {
        // Signature algorithm OIDs (sha256RSA and the like) name their hash too.
        PCCRYPT_OID_INFO info = CryptFindOIDInfo(CRYPT_OID_INFO_OID_KEY, const_cast<char*>(oid), 0);
        if (info)
            alg = info->Algid;
    }
    if (alg != CALG_SHA1 && alg != CALG_SHA_256 && alg != CALG_SHA_384 && alg != CALG_SHA_512 && alg != CALG_MD5)
        return {};
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextW(&prov, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return {};
    std::vector<BYTE> out;
    HCRYPTHASH hash = 0;
    if (CryptCreateHash(prov, alg, 0, 0, &hash)) {
        DWORD len = 0, lenSize = sizeof(len);
        if (CryptHashData(hash, data, static_cast<DWORD>(size), 0) &&
            CryptGetHashParam(hash, HP_HASHSIZE, reinterpret_cast<BYTE*>(&len), &lenSize, 0) && len > 0) {
            out.resize(len);
            if (!CryptGetHashParam(hash, HP_HASHVAL, out.data(), &len, 0))
                out.clear();
        }
        CryptDestroyHash(hash);
    }
    CryptReleaseContext(prov, 0);
    return out;
}

bool TrustParseUtcTime(const BYTE* data, size_t size, FILETIME& time)
{
    if (!data || size != 15 || data[0] != 0x17 || data[1] != 13 || data[14] != 'Z')
        return false;
    int digits[12];
    for (int i = 0; i < 12; ++i) {
        BYTE c = data[2 + i];
        if (c < '0' || c > '9')
            return false;
        digits[i] = c - '0';
    }
    auto pair = [&](int i) { return static_cast<WORD>(digits[i] * 10 + digits[i + 1]); };
    SYSTEMTIME st{};
    WORD yy = pair(0);
    st.wYear = static_cast<WORD>(yy < 70 ? 2000 + yy : 1900 + yy);
    st.wMonth = pair(2);
    st.wDay = pair(4);
    st.wHour = pair(6);
    st.wMinute = pair(8);
    st.wSecond = pair(10);
    st.wMilliseconds = 0;
    return SystemTimeToFileTime(&st, &time) != FALSE;
}

TimestampResult TrustReadTimestamp(HCRYPTMSG msg, DWORD index, const CMSG_SIGNER_INFO& signer, FILETIME& time)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(msg, CMSG_SIGNER_UNAUTH_ATTR_PARAM, index, nullptr, &size))
        return GetLastError() == static_cast<DWORD>(CRYPT_E_ATTRIBUTES_MISSING) ? TimestampResult::None
                                                                                : TimestampResult::Failed;
    // Wine reports missing attributes as success with nothing to read.
    if (size < sizeof(CRYPT_ATTRIBUTES))
        return TimestampResult::None;
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(msg, CMSG_SIGNER_UNAUTH_ATTR_PARAM, index, buffer.data(), &size))
        return TimestampResult::Failed;
    const auto* attrs = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());

    for (DWORD a = 0; a < attrs->cAttr; ++a) {
        const CRYPT_ATTRIBUTE& attr = attrs->rgAttr[a];
        if (!attr.pszObjId)
            continue;
        bool counter = std::strcmp(attr.pszObjId, kCounterSignOid) == 0;
        bool rfc3161 = std::strcmp(attr.pszObjId, kRfc3161Oid) == 0;
        if (!counter && !rfc3161)
            continue;
        const CRYPT_ATTR_BLOB* value = nullptr;
        for (DWORD v = 0; v < attr.cValue && !value; ++v)
            if (attr.rgValue[v].cbData > 0 && attr.rgValue[v].pbData)
                value = &attr.rgValue[v];
        if (!value)
            continue;

        bool found = false;
        bool holds = false;
        CertStore store;
        CertContext authority;
        if (counter) {
            DWORD infoSize = 0;
            if (!CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS7_SIGNER_INFO, value->pbData,
                                   value->cbData, 0, nullptr, &infoSize) || infoSize == 0)
                return TimestampResult::Failed;
            std::vector<BYTE> info(infoSize);
            if (!CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS7_SIGNER_INFO, value->pbData,
                                   value->cbData, 0, info.data(), &infoSize))
                return TimestampResult::Failed;
            const auto& counterSigner = *reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
            if (!counterSignerMatches(counterSigner, signer) || !readSigningTime(counterSigner, found, time))
                return TimestampResult::Failed;
            holds = found && counterSignatureHolds(msg, index, *value, counterSigner, store, authority);
        } else {
            CryptMsg token(CryptMsgOpenToDecode(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, 0, nullptr, nullptr));
            if (!token || !CryptMsgUpdate(token.get(), value->pbData, value->cbData, TRUE))
                return TimestampResult::Failed;
            std::vector<BYTE> info;
            if (!TrustMsgParam(token.get(), CMSG_SIGNER_INFO_PARAM, 0, info))
                return TimestampResult::Failed;
            const auto& tokenSigner = *reinterpret_cast<const CMSG_SIGNER_INFO*>(info.data());
            if (!tokenMatches(token.get(), signer, store, authority) || !readSigningTime(tokenSigner, found, time))
                return TimestampResult::Failed;
            holds = found;
        }
        // The first countersigner decides, with or without a time; a time
        // from an authority nobody trusts leaves the signer to be judged now.
        if (found && holds && authorityTrusted(authority.get(), store.get(), time))
            return TimestampResult::Time;
        return TimestampResult::None;
    }
    return TimestampResult::None;
}

} // namespace trust
} // namespace Halvex

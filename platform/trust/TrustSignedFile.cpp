#include "trust/TrustSignedFile.h"

#include <imagehlp.h>

#include <atomic>
#include <vector>

namespace Halvex {
namespace trust {

namespace {

// A signature block is a few kilobytes; a far larger one is not read.
const DWORD kMaxSignatureBytes = 1024 * 1024;

std::atomic<unsigned long> g_verifications{0};

// The image helpers, taken from the system folder when first needed (no
// program is to import their library at load time); never freed.
struct ImageHelpers {
    using Enumerate = BOOL(WINAPI*)(HANDLE, WORD, PDWORD, PDWORD, DWORD);
    using GetData = BOOL(WINAPI*)(HANDLE, DWORD, LPWIN_CERTIFICATE, PDWORD);
    Enumerate enumerate = nullptr;
    GetData getData = nullptr;

    ImageHelpers()
    {
        HMODULE module = LoadLibraryExW(L"imagehlp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!module)
            return;
        enumerate = reinterpret_cast<Enumerate>(
            reinterpret_cast<void*>(GetProcAddress(module, "ImageEnumerateCertificates")));
        getData = reinterpret_cast<GetData>(reinterpret_cast<void*>(GetProcAddress(module, "ImageGetCertificateData")));
    }
};

const ImageHelpers& imageHelpers()
{
    static const ImageHelpers helpers;
    return helpers;
}

} // namespace

TrustSignedFile::TrustSignedFile(const wchar_t* path, HANDLE file) : m_path(path), m_file(file)
{
    if ((!m_file || m_file == INVALID_HANDLE_VALUE) && path && *path) {
        m_own = FileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        m_file = m_own.get();
    }
}

unsigned long TrustSignedFile::verificationsMade()
{
    return g_verifications.load();
}

TrustSignedFile::Signature TrustSignedFile::readMessage()
{
    // An executable image keeps its signature in its certificate table, read
    // here through the handle without hashing the file; an image without one
    // is unsigned.
    const ImageHelpers& image = imageHelpers();
    DWORD certificates = 0;
    if (!image.enumerate || !image.getData ||
        !image.enumerate(m_file, CERT_SECTION_TYPE_ANY, &certificates, nullptr, 0))
        return Signature::NotAnImage;
    if (certificates == 0)
        return Signature::None;
    DWORD size = 0;
    if (image.getData(m_file, 0, nullptr, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
        size < sizeof(WIN_CERTIFICATE) || size > kMaxSignatureBytes)
        return Signature::None;
    std::vector<BYTE> buffer(size);
    auto* certificate = reinterpret_cast<WIN_CERTIFICATE*>(buffer.data());
    if (!image.getData(m_file, 0, certificate, &size) || size > buffer.size() ||
        certificate->wCertificateType != WIN_CERT_TYPE_PKCS_SIGNED_DATA ||
        certificate->dwLength > size || certificate->dwLength <= offsetof(WIN_CERTIFICATE, bCertificate))
        return Signature::None;
    CRYPT_DATA_BLOB blob{certificate->dwLength - static_cast<DWORD>(offsetof(WIN_CERTIFICATE, bCertificate)),
                         certificate->bCertificate};
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, nullptr, nullptr, &store, &message, nullptr))
        return Signature::None;
    m_store.reset(store);
    m_message.reset(message);
    return Signature::Read;
}

HCRYPTMSG TrustSignedFile::message()
{
    if (!valid())
        return nullptr;
    if (!m_messageRead) {
        m_messageRead = true;
        if (readMessage() == Signature::NotAnImage) {
            // Any other kind of file: the message comes with its verification.
            verify();
            m_verifiedMessage = m_verification->answer() == 0 ? m_verification->message() : nullptr;
            if (m_verifiedMessage)
                m_store.reset(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0,
                                            m_verifiedMessage));
        }
    }
    return m_message ? m_message.get() : m_verifiedMessage;
}

HCERTSTORE TrustSignedFile::store()
{
    return message() ? m_store.get() : nullptr;
}

void TrustSignedFile::verify()
{
    if (m_verification)
        return;
    ++g_verifications;
    m_verification.reset(new TrustVerification(m_path, m_file, kTrustHashOnlyFlags));
}

bool TrustSignedFile::hashIntact()
{
    if (!valid())
        return false;
    verify();
    return m_verification->answer() == 0;
}

} // namespace trust
} // namespace Halvex

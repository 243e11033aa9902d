#pragma once
// What one trust check learns of one open file, each piece at most once, and
// the cheap pieces first: the embedded signature message (its signers' names,
// serials and chains need no hash of the file) and, only when a signer has
// passed everything else, the verification of the file hash. Every policy of
// one check shares them, so a check reads and hashes the file at most once,
// and a file no policy's signer fits is never hashed at all.
#include "trust/TrustHandles.h"
#include "trust/TrustVerification.h"

#include <windows.h>
#include <wincrypt.h>

#include <memory>

namespace Halvex {
namespace trust {

class TrustSignedFile {
public:
    // `file` is the open file `path` names, held so that no one can write to
    // it while the check lasts; everything is read through it. Without a
    // handle the path is opened here once, shared for reading only.
    TrustSignedFile(const wchar_t* path, HANDLE file);
    TrustSignedFile(const TrustSignedFile&) = delete;
    TrustSignedFile& operator=(const TrustSignedFile&) = delete;

    bool valid() const { return m_file && m_file != INVALID_HANDLE_VALUE; }
    // The embedded signature message and its certificate store; null when
    // the file carries none. A file whose signature cannot be read apart
    // from its hash (not an executable image) is verified to get them.
    HCRYPTMSG message();
    HCERTSTORE store();
    // Whether the file hash matches its signature: verified on first ask.
    bool hashIntact();

    // Verifications of a file hash made by trust checks in this process.
    static unsigned long verificationsMade();

private:
    enum class Signature { Read, None, NotAnImage };
    Signature readMessage();
    void verify();

    const wchar_t* m_path;
    FileHandle m_own;
    HANDLE m_file;
    bool m_messageRead = false;
    CryptMsg m_message;
    CertStore m_store;
    HCRYPTMSG m_verifiedMessage = nullptr;
    std::unique_ptr<TrustVerification> m_verification;
};

} // namespace trust
} // namespace Halvex

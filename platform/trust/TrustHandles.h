#pragma once
// Owners of the handles the trust code opens, so that every early return
// leaves nothing behind.
#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <type_traits>

namespace Halvex {
namespace trust {

struct CertStoreCloser { void operator()(HCERTSTORE h) const { CertCloseStore(h, 0); } };
struct CryptMsgCloser { void operator()(HCRYPTMSG h) const { CryptMsgClose(h); } };
struct CertContextFreer { void operator()(PCCERT_CONTEXT c) const { CertFreeCertificateContext(c); } };
struct ChainFreer { void operator()(PCCERT_CHAIN_CONTEXT c) const { CertFreeCertificateChain(c); } };
struct RegKeyCloser { void operator()(HKEY h) const { RegCloseKey(h); } };
struct ModuleFreer { void operator()(HMODULE h) const { FreeLibrary(h); } };

using CertStore = std::unique_ptr<std::remove_pointer_t<HCERTSTORE>, CertStoreCloser>;
using CryptMsg = std::unique_ptr<std::remove_pointer_t<HCRYPTMSG>, CryptMsgCloser>;
using CertContext = std::unique_ptr<const CERT_CONTEXT, CertContextFreer>;
using CertChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;
using RegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;
using Module = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

// A kernel handle; INVALID_HANDLE_VALUE and null both mean none.
class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(HANDLE h) : m_h(h) {}
    ~FileHandle() { reset(); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    FileHandle(FileHandle&& other) noexcept : m_h(other.m_h) { other.m_h = INVALID_HANDLE_VALUE; }
    FileHandle& operator=(FileHandle&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_h = other.m_h;
            other.m_h = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    void reset()
    {
        if (valid())
            CloseHandle(m_h);
        m_h = INVALID_HANDLE_VALUE;
    }
    bool valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
    HANDLE get() const { return m_h; }

private:
    HANDLE m_h = INVALID_HANDLE_VALUE;
};

} // namespace trust
} // namespace Halvex

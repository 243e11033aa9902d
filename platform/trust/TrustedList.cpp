#include "trust/TrustedList.h"

#include "trust/TrustCryptMsg.h"
#include "trust/TrustFileSigners.h"
#include "trust/TrustHandles.h"
#include "trust/TrustHeldFile.h"
#include "trust/TrustVerification.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cstring>
#include <mutex>

using Halvex::trust::FileHandle;

const wchar_t* const kTrustedListAtom = L"67136527-5D6B-4AC9-865B-3E392E982420";

namespace {

// A list file is a few kilobytes; anything far larger is not one.
const DWORD kMaxListBytes = 1024 * 1024;

const BYTE kPinnedListSigner[20] = {0x41, 0x6D, 0x6E, 0x0A, 0xC1, 0x50, 0x2F, 0xA9, 0x04, 0x09,
                                    0x56, 0x82, 0xA9, 0x22, 0x36, 0xB3, 0xA8, 0xA8, 0xAC, 0xC1};

class DefaultVerifier : public TrustedListVerifier {
public:
    bool verify(const std::wstring& fullPath, HANDLE file) override
    {
        return TrustVerifyTrustedListFile(fullPath.c_str(), file);
    }
};

std::wstring fullPathOf(const std::wstring& path)
{
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return {};
    std::wstring full(needed, L'\0');
    DWORD written = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (written == 0 || written >= needed)
        return {};
    full.resize(written);
    return full;
}

bool lockWhole(HANDLE file, DWORD flags)
{
    OVERLAPPED at{};
    return LockFileEx(file, flags, 0, MAXDWORD, MAXDWORD, &at) != FALSE;
}

void unlockWhole(HANDLE file)
{
    OVERLAPPED at{};
    UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &at);
}

bool sameFile(HANDLE a, HANDLE b)
{
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return GetFileInformationByHandle(a, &first) && GetFileInformationByHandle(b, &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
           first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

bool readAll(HANDLE file, std::string& text)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > kMaxListBytes)
        return false;
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN))
        return false;
    text.assign(static_cast<size_t>(size.QuadPart), '\0');
    DWORD done = 0;
    if (!text.empty() && (!ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &done, nullptr) ||
                          done != text.size()))
        return false;
    return true;
}

// Holds, locks, verifies and reads a list file, in that order, as a library
// is held for its check: shared for reading only, so no one can write it,
// rename it or rename over it meanwhile (Wine does not enforce byte-range
// locks against other handles' writes), the folders on the way to it pinned
// and its identity proved at its own path. What was verified, through the
// held handle, is what is read.
bool readVerified(const std::wstring& fullPath, TrustedListVerifier& verifier, Halvex::trust::TrustHeldFile& held,
                  std::string& text)
{
    if (held.hold(fullPath) != 0)
        return false;
    OVERLAPPED at{};
    if (!LockFileEx(held.handle(), 0, 0, MAXDWORD, MAXDWORD, &at))
        return false;
    bool read = verifier.verify(held.path(), held.handle()) && readAll(held.handle(), text);
    unlockWhole(held.handle());
    return read;
}

bool parseVersion(const std::string& text, DWORD& version)
{
    Halvex::trust::TrustedListSections sections;
    Halvex::trust::TrustedListContent content;
    if (!Halvex::trust::TrustedListParse(text, sections) || !Halvex::trust::TrustedListBuild(sections, content))
        return false;
    version = content.version;
    return true;
}

} // namespace

bool TrustVerifyListFileSigner(const wchar_t* path, HANDLE file, const BYTE* pinnedSha1)
{
    using namespace Halvex::trust;
    if (!path || !*path || !pinnedSha1)
        return false;
    FileHandle own;
    if (!file || file == INVALID_HANDLE_VALUE) {
        own = FileHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!own.valid())
            return false;
        file = own.get();
    }
    // The signer is taken from the message the hash check itself read
    // through the handle: whatever the path names by now plays no part.
    TrustVerification verification(path, file, kTrustHashOnlyFlags);
    HCRYPTMSG msg = verification.message();
    if (verification.answer() != 0 || !msg)
        return false;
    CertStore store(CertOpenStore(CERT_STORE_PROV_MSG, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, 0, msg));
    if (!store)
        return false;
    DWORD count = 0;
    DWORD size = sizeof(count);
    if (!CryptMsgGetParam(msg, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size) || count != 1)
        return false;
    std::vector<BYTE> info;
    if (!TrustMsgParam(msg, CMSG_SIGNER_CERT_INFO_PARAM, 0, info))
        return false;
    CertContext cert(CertGetSubjectCertificateFromStore(store.get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                        reinterpret_cast<PCERT_INFO>(info.data())));
    if (!cert)
        return false;
    BYTE sha1[20];
    DWORD shaSize = sizeof(sha1);
    return CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, sha1, &shaSize) &&
           shaSize == sizeof(sha1) && std::memcmp(sha1, pinnedSha1, sizeof(sha1)) == 0;
}

bool TrustVerifyTrustedListFile(const wchar_t* path, HANDLE file)
{
    return TrustVerifyListFileSigner(path, file, kPinnedListSigner);
}

std::wstring TrustedListDefaultPath()
{
    wchar_t windows[MAX_PATH] = {};
    UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    wchar_t path[MAX_PATH] = {};
    wcscpy(path, windows);
    if (!PathStripToRootW(path) ||
        !PathAppendW(path, L"Program Files\\Common Files\\Corvane\\Platform\\Core\\trusted.js"))
        return {};
    return path;
}

TrustedList::TrustedList(std::wstring path, std::shared_ptr<TrustedListVerifier> verifier)
    : m_path(path.empty() ? TrustedListDefaultPath() : std::move(path)),
      m_verifier(verifier ? std::move(verifier) : std::make_shared<DefaultVerifier>())
{
}

std::wstring TrustedList::Path() const
{
    AcquireSRWLockShared(&m_lock);
    std::wstring path = m_path;
    ReleaseSRWLockShared(&m_lock);
    return path;
}

std::shared_ptr<TrustedListVerifier> TrustedList::Verifier() const
{
    AcquireSRWLockShared(&m_lock);
    std::shared_ptr<TrustedListVerifier> verifier = m_verifier;
    ReleaseSRWLockShared(&m_lock);
    return verifier;
}

bool TrustedList::IsLoaded() const
{
    AcquireSRWLockShared(&m_lock);
    bool loaded = m_loaded;
    ReleaseSRWLockShared(&m_lock);
    return loaded;
}

DWORD TrustedList::Version() const
{
    AcquireSRWLockShared(&m_lock);
    DWORD version = m_loaded ? m_content.version : 0;
    ReleaseSRWLockShared(&m_lock);
    return version;
}

bool TrustedList::LoadLocked()
{
    AcquireSRWLockExclusive(&m_lock);
    bool loaded = load();
    ReleaseSRWLockExclusive(&m_lock);
    return loaded;
}

bool TrustedList::Reload()
{
    AcquireSRWLockExclusive(&m_lock);
    reset();
    bool loaded = load();
    ReleaseSRWLockExclusive(&m_lock);
    return loaded;
}

void TrustedList::Reset(const std::wstring& path, std::shared_ptr<TrustedListVerifier> verifier)
{
    AcquireSRWLockExclusive(&m_lock);
    reset();
    m_path = path.empty() ? TrustedListDefaultPath() : path;
    m_verifier = verifier ? std::move(verifier) : std::make_shared<DefaultVerifier>();
    ReleaseSRWLockExclusive(&m_lock);
}

bool TrustedList::WithPolicy(const std::function<bool(const TrustPolicy&)>& check) const
{
    AcquireSRWLockShared(&m_lock);
    bool result = false;
    try {
        result = m_loaded && check(m_policy);
    } catch (...) {
        result = false;
    }
    ReleaseSRWLockShared(&m_lock);
    return result;
}

void TrustedList::reset()
{
    m_loaded = false;
    m_sections.clear();
    m_content = Halvex::trust::TrustedListContent{};
    m_names.clear();
    m_serials.clear();
    m_roots.clear();
    m_policy = TrustPolicy{};
}

void TrustedList::rebuildViews()
{
    m_names.clear();
    m_serials.clear();
    m_roots.clear();
    for (const auto& n : m_content.names)
        m_names.push_back(n.c_str());
    m_names.push_back(nullptr);
    for (const auto& s : m_content.serials)
        m_serials.push_back(s.c_str());
    m_serials.push_back(nullptr);
    for (const auto& r : m_content.thumbprints)
        m_roots.push_back({r.data(), r.size()});
    m_policy.version = m_content.version;
    m_policy.names = m_content.hasNames ? m_names.data() : nullptr;
    m_policy.serials = m_content.hasSerials ? m_serials.data() : nullptr;
    m_policy.roots = m_roots.empty() ? nullptr : m_roots.data();
    m_policy.rootCount = static_cast<DWORD>(m_roots.size());
}

bool TrustedList::load()
{
    if (m_loaded)
        return true;
    try {
        // A relative path is resolved once, so the file verified is the file read.
        std::wstring full = fullPathOf(m_path);
        if (full.empty() || !m_verifier)
            return false;
        Halvex::trust::TrustHeldFile held;
        std::string text;
        if (!readVerified(full, *m_verifier, held, text))
            return false;
        Halvex::trust::TrustedListSections sections;
        Halvex::trust::TrustedListContent content;
        if (!Halvex::trust::TrustedListParse(text, sections) || !Halvex::trust::TrustedListBuild(sections, content))
            return false;
        m_sections = std::move(sections);
        m_content = std::move(content);
        rebuildViews();
        m_loaded = true;
    } catch (...) {
        reset();
    }
    return m_loaded;
}

bool TrustedList::Install(const std::wstring& candidate, DWORD candidateVersion, const std::wstring& atomName)
{
    AcquireSRWLockExclusive(&m_lock);
    bool installed = false;
    try {
        std::wstring target = fullPathOf(m_path);
        if (!target.empty() && m_verifier && !(m_loaded && m_content.version >= candidateVersion)) {
            // Another process may have installed a newer file since this one
            // loaded: the file on disk is compared too, under its exclusive lock.
            FileHandle current;
            bool exists = PathFileExistsW(target.c_str()) != FALSE;
            bool newerOnDisk = false;
            if (exists) {
                // The file on disk is held as a reader holds it, so that it
                // cannot be written while it is judged; the exclusive lock,
                // which keeps readers out until the new file is in place, is
                // taken through a second handle on the same file that shares
                // everything, since the file is renamed over while that one
                // is open. A lock holder's own reads are the only ones an
                // exclusive lock lets through.
                Halvex::trust::TrustHeldFile held;
                if (held.hold(target) == 0) {
                    current = FileHandle(CreateFileW(held.path().c_str(), GENERIC_READ,
                                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                    std::string text;
                    DWORD diskVersion = 0;
                    if (current.valid() && sameFile(current.get(), held.handle()) &&
                        lockWhole(current.get(), LOCKFILE_EXCLUSIVE_LOCK) &&
                        m_verifier->verify(held.path(), current.get()) && readAll(current.get(), text) &&
                        parseVersion(text, diskVersion))
                        newerOnDisk = diskVersion >= candidateVersion;
                }
            }
            if (!newerOnDisk)
                installed = replaceWith(target, candidate, candidateVersion, current, atomName);
            if (current.valid())
                unlockWhole(current.get());
        }
    } catch (...) {
        installed = false;
    }
    ReleaseSRWLockExclusive(&m_lock);
    return installed;
}

bool TrustedList::replaceWith(const std::wstring& target, const std::wstring& candidate, DWORD candidateVersion,
                              FileHandle& current, const std::wstring& atomName)
{
    wchar_t folder[MAX_PATH] = {};
    if (target.size() >= MAX_PATH)
        return false;
    wcscpy(folder, target.c_str());
    if (!PathRemoveFileSpecW(folder))
        return false;
    int made = SHCreateDirectoryExW(nullptr, folder, nullptr);
    if (made != ERROR_SUCCESS && made != ERROR_ALREADY_EXISTS && made != ERROR_FILE_EXISTS)
        return false;
    wchar_t temp[MAX_PATH] = {};
    wcscpy(temp, folder);
    if (!PathAppendW(temp, L"trusted.tmp"))
        return false;
    if (!CopyFileW(candidate.c_str(), temp, FALSE))
        return false;
    // The installed list must not inherit read-only, hidden or system from wherever the candidate came from.
    SetFileAttributesW(temp, FILE_ATTRIBUTE_NORMAL);

    // The copy is what gets installed, so the copy is what must be valid and of the version judged.
    {
        TrustedList copy(temp, m_verifier);
        if (!copy.LoadLocked() || copy.Version() != candidateVersion) {
            DeleteFileW(temp);
            return false;
        }
    }

    bool exists = PathFileExistsW(target.c_str()) != FALSE;
    BOOL replaced = exists ? ReplaceFileW(target.c_str(), temp, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                           : MoveFileW(temp, target.c_str());
    if (!replaced) {
        // Someone holds the file: the new list takes its place at the next start.
        MoveFileExW(temp, target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
        return false;
    }
    if (current.valid()) {
        unlockWhole(current.get());
        current.reset();
    }
    GlobalAddAtomW(atomName.c_str());
    reset();
    return load();
}

namespace {

struct GlobalListState {
    std::mutex mutex;
    std::wstring atom = kTrustedListAtom;
};

GlobalListState& globalState()
{
    static GlobalListState state;
    return state;
}

} // namespace

TrustedList& TrustGlobalList()
{
    // Made on first use: its default path calls into the shell library, which
    // must not be loaded before a program has restricted its library search.
    static TrustedList list;
    return list;
}

const std::wstring& TrustGlobalListAtom()
{
    thread_local std::wstring copy;
    GlobalListState& state = globalState();
    std::lock_guard<std::mutex> hold(state.mutex);
    copy = state.atom;
    return copy;
}

void TrustConfigureGlobalList(const std::wstring& path, std::shared_ptr<TrustedListVerifier> verifier,
                              const std::wstring& atomName)
{
    TrustGlobalList().Reset(path, std::move(verifier));
    GlobalListState& state = globalState();
    std::lock_guard<std::mutex> hold(state.mutex);
    state.atom = atomName.empty() ? kTrustedListAtom : atomName;
}

int TrustedListUpdateFrom(const wchar_t* candidate)
{
    if (!candidate || !*candidate)
        return 0;
    try {
        TrustedList& global = TrustGlobalList();
        TrustedList proposed(candidate, global.Verifier());
        if (!proposed.LoadLocked())
            return 0;
        DWORD version = proposed.Version();
        if (global.IsLoaded() && global.Version() >= version)
            return 0;
        // Only a list newer than the built-in policy may take over.
        if (version < 8)
            return 0;
        return global.Install(candidate, version, TrustGlobalListAtom()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

#pragma once
// The trusted-signer list file ("trusted.js"): a signed policy shared by
// every process on the machine, read under a reader-writer lock.
#include "trust/TrustHandles.h"
#include "trust/TrustPolicy.h"
#include "trust/TrustedListParser.h"

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Checks the signature of a list file. `file` is the open, locked handle of
// the file at `fullPath`, so the bytes checked are the bytes read.
class TrustedListVerifier {
public:
    virtual ~TrustedListVerifier() = default;
    virtual bool verify(const std::wstring& fullPath, HANDLE file) = 0;
};

// Exactly one signer, whose certificate is the pinned list-signing
// certificate, and an intact file hash, both from one verification of the
// open file `file` (read through it; `path` only names it). Without a
// handle the path is opened once for both.
bool TrustVerifyTrustedListFile(const wchar_t* path, HANDLE file = nullptr);
// The same with another certificate's SHA-1 thumbprint (20 bytes) pinned.
bool TrustVerifyListFileSigner(const wchar_t* path, HANDLE file, const BYTE* pinnedSha1);

class TrustedList {
public:
    // An empty path stands for the default path, worked out here (never in a
    // static initialiser); an empty verifier for TrustVerifyTrustedListFile.
    explicit TrustedList(std::wstring path = {}, std::shared_ptr<TrustedListVerifier> verifier = {});
    TrustedList(const TrustedList&) = delete;
    TrustedList& operator=(const TrustedList&) = delete;

    bool IsLoaded() const;
    DWORD Version() const;
    std::wstring Path() const;
    std::shared_ptr<TrustedListVerifier> Verifier() const;

    bool LoadLocked();
    bool Reload();

    // Runs `check` on the loaded lists under the shared lock; false when not loaded.
    bool WithPolicy(const std::function<bool(const TrustPolicy&)>& check) const;

    // Puts `candidate` in place of the file when it is newer than both the
    // loaded list and the file now on disk, announces it through `atomName`
    // and loads it. Returns true when the new list was installed and loaded.
    bool Install(const std::wstring& candidate, DWORD candidateVersion, const std::wstring& atomName);

    // Back to not loaded, with another path and verifier (for the process-wide
    // list in tests, and at its end).
    void Reset(const std::wstring& path, std::shared_ptr<TrustedListVerifier> verifier);

private:
    bool load();  // under the exclusive lock
    void reset(); // under the exclusive lock
    void rebuildViews();
    bool replaceWith(const std::wstring& target, const std::wstring& candidate, DWORD candidateVersion,
                     Halvex::trust::FileHandle& current, const std::wstring& atomName);

    mutable SRWLOCK m_lock = SRWLOCK_INIT;
    std::wstring m_path;
    std::shared_ptr<TrustedListVerifier> m_verifier;
    bool m_loaded = false;
    Halvex::trust::TrustedListSections m_sections;
    Halvex::trust::TrustedListContent m_content;
    std::vector<const wchar_t*> m_names;
    std::vector<const wchar_t*> m_serials;
    std::vector<TrustThumbprint> m_roots;
    TrustPolicy m_policy{};
};

// Where the list lies unless told otherwise: the Windows drive's
// "Program Files\Common Files\Corvane\Platform\Core\trusted.js".
std::wstring TrustedListDefaultPath();

// The name of the global atom that tells processes a newer list was installed.
extern const wchar_t* const kTrustedListAtom;

// The process-wide list and the atom it announces through, made on first use.
TrustedList& TrustGlobalList();
const std::wstring& TrustGlobalListAtom();

// Points the process-wide list at another file, verifier and atom, not
// loaded; empty values restore the defaults.
void TrustConfigureGlobalList(const std::wstring& path, std::shared_ptr<TrustedListVerifier> verifier,
                              const std::wstring& atomName);

// Installs `candidate` when it is a valid list newer than the loaded one and
// of version 8 or more. Nonzero when a newer list was installed and loaded.
int TrustedListUpdateFrom(const wchar_t* candidate);

// Reads a cabinet for a "trusted.js" and hands it to TrustedListUpdateFrom.
// Nonzero when the cabinet held a newer list that was installed.
int CabinetExtractTrustedList(const wchar_t* cabinetPath);

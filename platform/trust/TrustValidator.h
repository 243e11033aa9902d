#pragma once
// The trust decision for a file: the maker's validation service when it
// vouches, else the own signer check against the policy.
#include "trust/NotComDll.h"
#include "trust/TrustPolicy.h"

#include <windows.h>

#include <string>

class TrustValidator {
public:
    struct Settings {
        TrustServiceKey key;
        std::wstring library = L"Drellin.dll";
        HMODULE base = nullptr;
    };

    TrustValidator(); // the service recorded on this machine
    explicit TrustValidator(const Settings& settings);
    TrustValidator(const TrustValidator&) = delete;
    TrustValidator& operator=(const TrustValidator&) = delete;

    // 0 when the key is missing; else 1504 or the version recorded (major * 100 + minor).
    DWORD serviceVersion() const { return m_serviceVersion; }
    // The service's validation interface; null without the library.
    void* control() const { return m_control; }

private:
    void make(const Settings& settings);

    DWORD m_serviceVersion = 0;
    void* m_control = nullptr;
};

// 87 for a null or empty path; else the process's validator's answer, with
// the file held (shared for reading only) and the way to it pinned while it
// is checked; a file that cannot be held is not trusted (5), or, when another
// handle keeps it from being held so, a sharing failure (32).
DWORD TrustVerifyFile(const wchar_t* path);
// The same for a file the caller already holds that way (`file`), so that what
// is checked is what the caller then uses.
DWORD TrustVerifyHeldFile(const wchar_t* path, HANDLE file);

// The process's validator, made on the first call; `created` tells whether
// this call made it. Never released: the service interface is held to the end.
TrustValidator* TrustGetValidator(bool* created);

// 0 trusted, 5 not trusted, 87 no path. `file`, when given, is the open file
// of `path`: the file hash is read through it.
DWORD TrustValidatorIsTrusted(TrustValidator* validator, const wchar_t* path, HANDLE file = nullptr);
// 0 when the service vouches for the file, else 5.
DWORD TrustValidatorCheckService(TrustValidator* validator, const wchar_t* path);

bool TrustCheckFileOrCabinet(const wchar_t* path, const TrustPolicy& policy, HANDLE file = nullptr);
bool TrustCheckWithTrustedList(const wchar_t* path, const TrustPolicy& policy, HANDLE file = nullptr);

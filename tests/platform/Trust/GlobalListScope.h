#pragma once
// Points the process-wide trusted list at a list file of the test's own, with
// the stand-in verifier and an atom of its own; puts the defaults back and
// deletes the atom afterwards.
#include "TestListVerifier.h"

#include "ScratchFolder.h"

#include <memory>
#include <string>

namespace TrustTests {

class GlobalListScope {
public:
    GlobalListScope();
    ~GlobalListScope();
    GlobalListScope(const GlobalListScope&) = delete;
    GlobalListScope& operator=(const GlobalListScope&) = delete;

    const std::wstring& listPath() const { return m_listPath; }
    const std::wstring& atom() const { return m_atom; }
    TestListVerifier& verifier() { return *m_verifier; }
    const TestSupport::ScratchFolder& folder() const { return m_folder; }

    // Writes the installed list file as another process would.
    void writeList(const std::string& text) const;
    // Writes a candidate list beside it; returns its path.
    std::wstring writeCandidate(const std::wstring& name, const std::string& text) const;
    bool atomExists() const;
    std::string installedText() const;

private:
    TestSupport::ScratchFolder m_folder;
    std::wstring m_listPath;
    std::wstring m_atom;
    std::shared_ptr<TestListVerifier> m_verifier;
};

} // namespace TrustTests

#include "GlobalListScope.h"

#include "TestNames.h"

namespace TrustTests {

GlobalListScope::GlobalListScope()
    : m_listPath(m_folder.file(L"Core\\trusted.js")), m_atom(TestSupport::uniqueName(L"TrustedListAtom")),
      m_verifier(std::make_shared<TestListVerifier>())
{
    CreateDirectoryW(m_folder.file(L"Core").c_str(), nullptr);
    TrustConfigureGlobalList(m_listPath, m_verifier, m_atom);
}

GlobalListScope::~GlobalListScope()
{
    for (ATOM a = GlobalFindAtomW(m_atom.c_str()); a != 0; a = GlobalFindAtomW(m_atom.c_str()))
        if (GlobalDeleteAtom(a) != 0)
            break;
    TrustConfigureGlobalList(L"", nullptr, L"");
}

void GlobalListScope::writeList(const std::string& text) const
{
    m_folder.write(L"Core\\trusted.js", text);
}

std::wstring GlobalListScope::writeCandidate(const std::wstring& name, const std::string& text) const
{
    return m_folder.write(name, text);
}

bool GlobalListScope::atomExists() const
{
    return GlobalFindAtomW(m_atom.c_str()) != 0;
}

std::string GlobalListScope::installedText() const
{
    return TestSupport::ScratchFolder::read(m_listPath);
}

} // namespace TrustTests

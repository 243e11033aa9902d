#pragma once
// Where the trust kit lies and what its roots are, for the trust tests.
#include "trust/TrustPolicy.h"

#include <string>
#include <vector>

namespace TrustTests {

// The kit folder as Wine sees it, and a file in it.
std::wstring kitDir();
std::wstring kitFile(const std::wstring& name);

// The SHA-1 thumbprint of a kit certificate ("root", "otherroot", "signer").
std::vector<BYTE> kitThumbprint(const std::string& name);
std::string kitThumbprintText(const std::string& name);

// The name every valid kit signer carries.
extern const wchar_t* const kSignerName;

// A policy over owned lists, for the signer check.
class OwnedPolicy {
public:
    OwnedPolicy(std::vector<std::wstring> names, std::vector<std::vector<BYTE>> roots,
                std::vector<std::wstring> serials, bool nullNames = false, bool nullSerials = false);
    const wchar_t* const* names() const { return m_nullNames ? nullptr : m_namePtrs.data(); }
    const TrustThumbprint* roots() const { return m_rootViews.empty() ? nullptr : m_rootViews.data(); }
    DWORD rootCount() const { return static_cast<DWORD>(m_rootViews.size()); }
    const wchar_t* const* serials() const { return m_nullSerials ? nullptr : m_serialPtrs.data(); }

private:
    std::vector<std::wstring> m_names, m_serials;
    std::vector<std::vector<BYTE>> m_roots;
    std::vector<const wchar_t*> m_namePtrs, m_serialPtrs;
    std::vector<TrustThumbprint> m_rootViews;
    bool m_nullNames, m_nullSerials;
};

} // namespace TrustTests

#include "TrustKit.h"

#include "ScratchFolder.h"
#include "TestNames.h"

namespace TrustTests {

const wchar_t* const kSignerName = L"Halvex Test Signer";

std::wstring kitDir()
{
    return TestSupport::widen(TRUST_KIT_DIR);
}

std::wstring kitFile(const std::wstring& name)
{
    return kitDir() + L"\\" + name;
}

std::string kitThumbprintText(const std::string& name)
{
    std::string text = TestSupport::ScratchFolder::read(kitFile(TestSupport::widen(name + ".sha1")));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::vector<BYTE> kitThumbprint(const std::string& name)
{
    std::string text = kitThumbprintText(name);
    std::vector<BYTE> bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<BYTE>(std::stoul(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

OwnedPolicy::OwnedPolicy(std::vector<std::wstring> names, std::vector<std::vector<BYTE>> roots,
                         std::vector<std::wstring> serials, bool nullNames, bool nullSerials)
    : m_names(std::move(names)), m_serials(std::move(serials)), m_roots(std::move(roots)),
      m_nullNames(nullNames), m_nullSerials(nullSerials)
{
    for (const auto& n : m_names)
        m_namePtrs.push_back(n.c_str());
    m_namePtrs.push_back(nullptr);
    for (const auto& s : m_serials)
        m_serialPtrs.push_back(s.c_str());
    m_serialPtrs.push_back(nullptr);
    for (const auto& r : m_roots)
        m_rootViews.push_back({r.data(), r.size()});
}

} // namespace TrustTests

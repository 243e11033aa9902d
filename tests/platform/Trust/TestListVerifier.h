#pragma once
// Stand-in for the list file's signature check: nothing on this platform can
// sign or check a script file, so a list counts as signed when the bytes read
// through the handle it is given carry the kit's marker line.
#include "trust/TrustedList.h"

#include <functional>
#include <string>
#include <vector>

namespace TrustTests {

extern const char* const kListSignatureLine;

class TestListVerifier : public TrustedListVerifier {
public:
    bool verify(const std::wstring& fullPath, HANDLE file) override;

    std::vector<std::wstring> seen;                        // full paths asked about
    std::function<void(const std::wstring&, HANDLE)> during; // runs inside verify
};

// A list text: [VER], [ORG] with the kit signer, [SHA] lines, and the marker
// line when signed.
std::string listText(const std::string& version, const std::vector<std::string>& roots, bool signedList = true);

} // namespace TrustTests

#include "TestListVerifier.h"

namespace TrustTests {

const char* const kListSignatureLine = "// SIG // halvex-test-signature";

bool TestListVerifier::verify(const std::wstring& fullPath, HANDLE file)
{
    seen.push_back(fullPath);
    if (during)
        during(fullPath, file);
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN))
        return false;
    std::string text(64 * 1024, '\0');
    DWORD read = 0;
    if (!ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &read, nullptr))
        return false;
    text.resize(read);
    return text.find(kListSignatureLine) != std::string::npos;
}

std::string listText(const std::string& version, const std::vector<std::string>& roots, bool signedList)
{
    std::string text = "/* trusted signers */\r\n[VER]\r\n" + version + "\r\n[ORG]\r\nHalvex Test Signer\r\n";
    if (!roots.empty()) {
        text += "[SHA]\r\n";
        for (const auto& r : roots)
            text += r + "\r\n";
    }
    if (signedList)
        text += std::string(kListSignatureLine) + "\r\n";
    return text;
}

} // namespace TrustTests

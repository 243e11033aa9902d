#include "IniTestText.h"

#include <cstdio>

namespace IniText {

const char kLastLogIdxHeader[] = "43565247010000000400000004000000010000003E04296EA7052868F3736E0FA06C2691F7";
const char kLastLogIdxData[] = "96D87B8B74";
const char kNameHeader[] = "43565247010000000700000001000000010000004A17471C046C5D6AEB0C2B2B0DDA6D633B";
const char kNameData[] = "4405466266582CDB";
const char kNegHeader[] = "43565247010000000400000004000000010000009BD0F5C51E626C6F66CE2A7CBAD44A319F";
const char kNegData[] = "D3305D52B2";

std::string goldenFile()
{
    return "[Config]\r\n" + pairLines("LastLogIdx", kLastLogIdxHeader, kLastLogIdxData) +
           pairLines("Name", kNameHeader, kNameData);
}

std::string hexStructure(const std::vector<uint8_t>& bytes)
{
    std::string out;
    unsigned sum = 0;
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof(pair), "%02X", b);
        out += pair;
        sum += b;
    }
    std::snprintf(pair, sizeof(pair), "%02X", sum & 0xFFu);
    return out + pair;
}

std::vector<uint8_t> bytesOf(const std::string& hex)
{
    std::vector<uint8_t> out;
    if (hex.size() < 2)
        return out;
    const size_t dataCharacters = hex.size() - 2;
    for (size_t i = 0; i + 1 < dataCharacters; i += 2)
        out.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string pairLines(const std::string& key, const std::string& header, const std::string& data)
{
    return "_" + key + "=" + header + "\r\n" + key + "=" + data + "\r\n";
}

} // namespace IniText

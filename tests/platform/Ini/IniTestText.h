#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Ini texts for the reader's tests, built without the reader: the hexadecimal
// structures are made here, and the fixed values below were computed with an
// implementation of the cipher and MD5 of its own outside this code base.
namespace IniText {

// Section Config, key LastLogIdx, the number 5.
extern const char kLastLogIdxHeader[];
extern const char kLastLogIdxData[];
// Section Config, key Name, the text "Sentrel".
extern const char kNameHeader[];
extern const char kNameData[];
// Section Config, key Neg, the number -123456.
extern const char kNegHeader[];
extern const char kNegData[];

// The file a fresh reader writes for SetInt(Config, LastLogIdx, 5) followed by
// SetString(Config, Name, "Sentrel").
std::string goldenFile();

// Bytes as WritePrivateProfileStructW writes them: two upper-case digits a
// byte, then two digits of the byte sum.
std::string hexStructure(const std::vector<uint8_t>& bytes);
// A hexadecimal structure's bytes, its checksum left out.
std::vector<uint8_t> bytesOf(const std::string& hexStructure);

// "_key=header\r\nkey=data\r\n"
std::string pairLines(const std::string& key, const std::string& header, const std::string& data);

} // namespace IniText

#include "Registry/CObfuscatedRegKey.h"

#include "Registry/CCipher.h"
#include "Registry/MD5.h"

#include "ScratchRegistryKey.h"
#include "TestNames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using Halvex::CObfuscatedRegKey;
using Halvex::CObfuscatedRegKeyImpl;
using TestSupport::ScratchRegistryKey;
namespace internal = Halvex::internal;

namespace {

void put32(std::string& bytes, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; ++k)
        bytes[at + k] = char(uint8_t(v >> (8 * k)));
}

// Recomputes the digest of a blob of at least 32 bytes, as a writer would.
void resign(std::string& blob)
{
    std::memset(&blob[16], 0, 16);
    uint8_t digest[16];
    ASSERT_EQ(0, internal::ComputeMD5(blob.data(), blob.size(), digest, 16));
    std::memcpy(&blob[16], digest, 16);
}

// A stored value as any writer of the format makes it.
std::string makeBlob(DWORD type, const std::string& plain, uint32_t version = 1)
{
    std::string blob(32 + plain.size(), '\0');
    std::memcpy(&blob[0], "CVRG", 4);
    put32(blob, 4, version);
    put32(blob, 8, uint32_t(plain.size()));
    put32(blob, 12, type);
    if (!plain.empty()) {
        internal::CCipher cipher(internal::kObfuscatedRegistryKey, internal::kObfuscationKeyLength, 1);
        cipher.Encrypt(reinterpret_cast<const uint8_t*>(plain.data()), reinterpret_cast<uint8_t*>(&blob[32]),
                       plain.size());
    }
    resign(blob);
    return blob;
}

std::string wideBytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

class ObfuscatedRegKeyTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS, key.Open(scratch.root(), scratch.path().c_str(), KEY_ALL_ACCESS));
    }
    void setBlob(const wchar_t* name, const std::string& blob)
    {
        scratch.setRaw(name, REG_BINARY, blob.data(), DWORD(blob.size()));
    }
    std::string raw(const wchar_t* name)
    {
        DWORD type = 0;
        std::string bytes;
        EXPECT_TRUE(scratch.getRaw(name, type, bytes));
        EXPECT_EQ(DWORD(REG_BINARY), type);
        return bytes;
    }

    ScratchRegistryKey scratch;
    CObfuscatedRegKey key;
};

} // namespace

TEST_F(ObfuscatedRegKeyTest, EveryTypeReadsBackWhatWasWritten)
{
    const std::wstring text = L"Gr\u00fc\u00dfe \u2713 \U0001F600";
    const GUID guid = {0x5E2D9B71, 0xC4A8, 0x4e16, {0xB3, 0xF0, 0x7D, 0x61, 0xA2, 0x8E, 0x9C, 0x05}};
    std::string big(3000, '\0');
    for (size_t k = 0; k < big.size(); ++k)
        big[k] = char(k * 31);
    const std::wstring longText(1500, L'\u00e9');

    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"dword", 0xDEADBEEF));
    ASSERT_EQ(ERROR_SUCCESS, key.SetQWORDValue(L"qword", 0x0123456789ABCDEFull));
    ASSERT_EQ(ERROR_SUCCESS, key.SetBinaryValue(L"binary", big.data(), DWORD(big.size())));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"text", text.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"long", longText.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"empty", L""));
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"expand", L"%TEMP%\\x", REG_EXPAND_SZ));
    ASSERT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(L"multi", L"one\0\u00fcber\0three\0"));
    ASSERT_EQ(ERROR_SUCCESS, key.SetGUIDValue(L"guid", guid));

    DWORD dword = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"dword", dword));
    EXPECT_EQ(0xDEADBEEFu, dword);
    ULONGLONG qword = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryQWORDValue(L"qword", qword));
    EXPECT_EQ(0x0123456789ABCDEFull, qword);
    std::string binary(4000, '\0');
    DWORD size = DWORD(binary.size());
    EXPECT_EQ(ERROR_SUCCESS, key.QueryBinaryValue(L"binary", &binary[0], &size));
    EXPECT_EQ(big, binary.substr(0, size));
    std::wstring value;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"text", value));
    EXPECT_EQ(text, value);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"long", value));
    EXPECT_EQ(longText, value);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"empty", value));
    EXPECT_EQ(L"", value);
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"expand", value));
    EXPECT_EQ(L"%TEMP%\\x", value);
    wchar_t multi[32];
    DWORD chars = 32;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryMultiStringValue(L"multi", multi, &chars));
    EXPECT_EQ(std::wstring(L"one\0\u00fcber\0three\0\0", 16), std::wstring(multi, chars));
    GUID read{};
    EXPECT_EQ(ERROR_SUCCESS, key.QueryGUIDValue(L"guid", read));
    EXPECT_TRUE(IsEqualGUID(guid, read));

    // Through the raw read, every value reports the type it was written with.
    struct Typed {
        const wchar_t* name;
        DWORD type;
    };
    for (const Typed& t : {Typed{L"dword", REG_DWORD}, Typed{L"qword", REG_QWORD}, Typed{L"binary", REG_BINARY},
                           Typed{L"text", REG_SZ}, Typed{L"expand", REG_EXPAND_SZ}, Typed{L"multi", REG_MULTI_SZ},
                           Typed{L"guid", REG_SZ}}) {
        DWORD type = 0;
        EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(t.name, &type, nullptr, nullptr));
        EXPECT_EQ(t.type, type) << TestSupport::narrow(t.name);
    }
}

TEST_F(ObfuscatedRegKeyTest, StoredFormatIsTheOneOtherWritersUse)
{
    const std::wstring text = L"Gr\u00fc\u00dfe";
    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"text", text.c_str()));
    EXPECT_EQ(makeBlob(REG_SZ, std::string("Gr\xc3\xbc\xc3\x9f" "e", 7) + '\0'), raw(L"text"));

    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"empty", L""));
    const std::string empty = raw(L"empty");
    EXPECT_EQ(33u, empty.size());
    EXPECT_EQ(makeBlob(REG_SZ, std::string(1, '\0')), empty);
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(L"empty", nullptr, nullptr, &size));
    EXPECT_EQ(2u, size);

    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"expand", L"%PATH%", REG_EXPAND_SZ));
    EXPECT_EQ(makeBlob(REG_EXPAND_SZ, wideBytes(std::wstring(L"%PATH%", 7))), raw(L"expand"));

    ASSERT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(L"multi", L"a\0\u00fc\0"));
    EXPECT_EQ(makeBlob(REG_MULTI_SZ, std::string("a\0\xc3\xbc\0\0", 6)), raw(L"multi"));

    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"dword", 0x01020304));
    EXPECT_EQ(makeBlob(REG_DWORD, std::string("\x04\x03\x02\x01", 4)), raw(L"dword"));

    // The keystream always starts from the key: the same value, the same blob.
    const std::string once = raw(L"dword");
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"dword", 0x01020304));
    EXPECT_EQ(once, raw(L"dword"));

    // Another writer's blob, a later version number included, reads.
    setBlob(L"foreign", makeBlob(REG_SZ, std::string("from elsewhere", 15), 2));
    std::wstring value;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"foreign", value));
    EXPECT_EQ(L"from elsewhere", value);
}

TEST_F(ObfuscatedRegKeyTest, DamagedValuesAreRefused)
{
    const std::string good = makeBlob(REG_DWORD, std::string("\x2a\0\0\0", 4));

    std::string badMagic = good;
    badMagic[0] = 'X';
    resign(badMagic);
    std::string wrongDigest = good;
    wrongDigest[20] ^= 0x40;
    std::string shortPayload = makeBlob(REG_BINARY, "0123456789");
    shortPayload.resize(shortPayload.size() - 5);
    resign(shortPayload);
    std::string longPayload = makeBlob(REG_BINARY, "0123456789") + "extra";
    resign(longPayload);
    std::string payloadChanged = good;
    payloadChanged[33] ^= 1;
    std::string hugeLength = good;
    put32(hugeLength, 8, 0xFFFFFFF0u);
    resign(hugeLength);

    struct Case {
        const char* what;
        DWORD rawType;
        std::string bytes;
        LONG result;
    };
    const Case cases[] = {
        {"empty value", REG_BINARY, "", ERROR_INVALID_DATA},
        {"truncated header", REG_BINARY, good.substr(0, 31), ERROR_INVALID_DATA},
        {"header only, digest of the truncated bytes", REG_BINARY, [&] { std::string s = good.substr(0, 32); resign(s); return s; }(),
         ERROR_INVALID_DATA},
        {"bad magic", REG_BINARY, badMagic, ERROR_INVALID_DATA},
        {"wrong digest", REG_BINARY, wrongDigest, ERROR_INVALID_DATA},
        {"payload changed", REG_BINARY, payloadChanged, ERROR_INVALID_DATA},
        {"payload shorter than its header says", REG_BINARY, shortPayload, ERROR_INVALID_DATA},
        {"payload longer than its header says", REG_BINARY, longPayload, ERROR_INVALID_DATA},
        {"length field near 4 GiB", REG_BINARY, hugeLength, ERROR_INVALID_DATA},
        {"plain number", REG_DWORD, std::string("\x2a\0\0\0", 4), ERROR_INVALID_DATA},
        {"plain text", REG_SZ, wideBytes(std::wstring(L"CVRG", 5)), ERROR_INVALID_DATA},
        // A correct blob with an empty payload has nothing to decipher.
        {"empty payload", REG_BINARY, makeBlob(REG_BINARY, ""), CObfuscatedRegKeyImpl::kDecodeFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        scratch.setRaw(L"v", c.rawType, c.bytes.data(), DWORD(c.bytes.size()));
        uint8_t buffer[64];
        std::memset(buffer, 0xCC, sizeof(buffer));
        DWORD size = 16;
        DWORD type = 99;
        EXPECT_EQ(c.result, key.QueryValue(L"v", &type, buffer, &size));
        for (size_t k = 16; k < sizeof(buffer); ++k)
            ASSERT_EQ(0xCC, buffer[k]) << "written past the buffer at " << k;
        DWORD number = 0;
        EXPECT_EQ(c.result, key.QueryDWORDValue(L"v", number));
        if (c.result == ERROR_INVALID_DATA) {
            type = 99;
            EXPECT_EQ(ERROR_INVALID_DATA, key.QueryValue(L"v", &type, nullptr, nullptr));
            EXPECT_EQ(0u, type);
        }
    }

    // Any byte changed by hand makes the value unreadable.
    for (size_t at = 0; at < good.size(); ++at) {
        std::string changed = good;
        changed[at] = char(changed[at] ^ 0x01);
        setBlob(L"v", changed);
        DWORD number = 0;
        EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"v", number)) << "byte " << at;
    }

    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryValue(L"missing", &type, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryValue(L"v", nullptr, nullptr, nullptr));
}

TEST_F(ObfuscatedRegKeyTest, SizesAndShortBuffers)
{
    setBlob(L"four", makeBlob(REG_DWORD, std::string("\x07\0\0\0", 4)));
    setBlob(L"eight", makeBlob(REG_DWORD, std::string(8, '\x01')));
    setBlob(L"two", makeBlob(REG_DWORD, std::string("\x07\0", 2)));
    setBlob(L"qshort", makeBlob(REG_QWORD, std::string(4, '\x01')));
    DWORD number = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"four", number));
    EXPECT_EQ(7u, number);
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryDWORDValue(L"eight", number));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"two", number));
    ULONGLONG q = 0;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryQWORDValue(L"qshort", q));

    ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(L"text", L"h\u00e9llo"));
    DWORD size = 0, type = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(L"text", &type, nullptr, &size));
    EXPECT_EQ(DWORD(REG_SZ), type);
    EXPECT_EQ(12u, size);
    wchar_t buffer[16];
    size = 10;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryValue(L"text", &type, buffer, &size));
    EXPECT_EQ(12u, size);

    ASSERT_EQ(ERROR_SUCCESS, key.SetMultiStringValue(L"multi", L"ab\0cd\0"));
    size = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(L"multi", &type, nullptr, &size));
    EXPECT_EQ(14u, size);
    std::memset(buffer, 0x55, sizeof(buffer));
    size = 12; // room for the strings but not the final NUL
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryValue(L"multi", &type, buffer, &size));
    EXPECT_EQ(14u, size);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(L'\0', buffer[k]) << "partial list left at " << k;
    EXPECT_EQ(wchar_t(0x5555), buffer[6]);
    DWORD chars = 1;
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, key.QueryMultiStringValue(L"multi", buffer, &chars));

    uint8_t bytes[8];
    setBlob(L"bin", makeBlob(REG_BINARY, "12345"));
    std::memset(bytes, 0xAA, sizeof(bytes));
    size = 4;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryBinaryValue(L"bin", bytes, &size));
    EXPECT_EQ(5u, size);
    EXPECT_EQ(0xAA, bytes[0]);
}

// The payload's texts are taken within the payload's length: a text without
// its NUL ends at the end of the data, a list without its final NUL ends there.
TEST_F(ObfuscatedRegKeyTest, PayloadTextsAreBoundedByTheData)
{
    setBlob(L"noNul", makeBlob(REG_SZ, "abc"));
    std::wstring value;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"noNul", value));
    EXPECT_EQ(L"abc", value);
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryValue(L"noNul", nullptr, nullptr, &size));
    EXPECT_EQ(8u, size);

    setBlob(L"bigNoNul", makeBlob(REG_SZ, std::string(2000, 'x')));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"bigNoNul", value));
    EXPECT_EQ(std::wstring(2000, L'x'), value);

    setBlob(L"listNoEnd", makeBlob(REG_MULTI_SZ, std::string("a\0bc", 4)));
    wchar_t list[16];
    DWORD chars = 16;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryMultiStringValue(L"listNoEnd", list, &chars));
    EXPECT_EQ(std::wstring(L"a\0bc\0\0", 6), std::wstring(list, chars));

    // Bytes stored for an expandable text are handed over as they are: the
    // string query itself refuses one without its terminator.
    setBlob(L"expandNoNul", makeBlob(REG_EXPAND_SZ, wideBytes(L"abc")));
    wchar_t text[16];
    chars = 16;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue(L"expandNoNul", text, &chars));
    setBlob(L"expandOdd", makeBlob(REG_EXPAND_SZ, std::string("a\0\0", 3)));
    chars = 16;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue(L"expandOdd", text, &chars));
    setBlob(L"multiUtf16", makeBlob(REG_MULTI_SZ, std::string("\xff\xfe\0", 3)));
    chars = 16;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryMultiStringValue(L"multiUtf16", list, &chars));
    EXPECT_EQ(L'\0', list[chars - 1]);
}

TEST_F(ObfuscatedRegKeyTest, RefusedWritesStoreNothing)
{
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetValue(L"v", REG_BINARY, "x", 0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetValue(L"v", REG_SZ, nullptr, 4));
    EXPECT_EQ(ERROR_INVALID_DATA, key.SetStringValue(L"v", nullptr));
    DWORD type = 0;
    std::string bytes;
    EXPECT_FALSE(scratch.getRaw(L"v", type, bytes));

    // A text is taken up to its NUL but never past the bytes given.
    const wchar_t unterminated[3] = {L'a', L'b', L'c'};
    EXPECT_EQ(ERROR_SUCCESS, key.SetValue(L"v", REG_SZ, unterminated, 4));
    std::wstring value;
    EXPECT_EQ(ERROR_SUCCESS, key.QueryStringValue(L"v", value));
    EXPECT_EQ(L"ab", value);
}

// A seeded run of damaged values: whatever the bytes, a read never crashes,
// never writes past the buffer it was given and reports sizes it can back.
TEST_F(ObfuscatedRegKeyTest, MutatedValuesNeverCrashOrOverrun)
{
    const std::vector<std::string> seeds = {
        makeBlob(REG_SZ, std::string("hello\0", 6)),
        makeBlob(REG_SZ, std::string(1200, 'y')),
        makeBlob(REG_MULTI_SZ, std::string("a\0bb\0ccc\0\0", 10)),
        makeBlob(REG_DWORD, std::string("\1\2\3\4", 4)),
        makeBlob(REG_QWORD, std::string(8, '\x11')),
        makeBlob(REG_EXPAND_SZ, wideBytes(std::wstring(L"%X%", 4))),
        makeBlob(REG_BINARY, std::string(1100, '\x5a')),
    };
    const DWORD types[] = {REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_QWORD, 0, 0xFFFFFFFF};
    std::mt19937 random(20261210);
    int accepted = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string blob = seeds[random() % seeds.size()];
        const int edits = 1 + int(random() % 6);
        for (int e = 0; e < edits; ++e) {
            switch (random() % 6) {
            case 0: // flip bytes in the payload
                if (blob.size() > 32)
                    blob[32 + random() % (blob.size() - 32)] = char(random());
                break;
            case 1: // cut
                blob.resize(random() % (blob.size() + 1));
                break;
            case 2: // grow
                blob.append(random() % 40, char(random()));
                break;
            case 3: // another declared type
                if (blob.size() >= 16)
                    put32(blob, 12, types[random() % (sizeof(types) / sizeof(types[0]))]);
                break;
            case 4: // the length field
                if (blob.size() >= 16)
                    put32(blob, 8, random() % 2 ? uint32_t(blob.size() - 32) : uint32_t(random()));
                break;
            default: // any header byte
                if (!blob.empty())
                    blob[random() % std::min<size_t>(blob.size(), 32)] = char(random());
                break;
            }
        }
        // Mostly re-signed with a consistent length, so that the payload
        // conversions, not only the digest check, meet the damage.
        if (blob.size() >= 32 && random() % 4 != 0) {
            std::memcpy(&blob[0], "CVRG", 4);
            put32(blob, 8, uint32_t(blob.size() - 32));
            resign(blob);
        }
        setBlob(L"m", blob);

        const DWORD capacity = random() % 2 ? DWORD(random() % 64) : DWORD(4096);
        std::vector<uint8_t> buffer(capacity + 16, 0xCC);
        DWORD size = capacity;
        DWORD type = 0;
        const LONG error = key.QueryValue(L"m", &type, buffer.data(), &size);
        for (size_t k = capacity; k < buffer.size(); ++k)
            ASSERT_EQ(0xCC, buffer[k]) << "round " << round << " wrote past the buffer";
        if (error == ERROR_SUCCESS) {
            ++accepted;
            ASSERT_LE(size, capacity) << "round " << round;
        }

        std::wstring text;
        key.QueryStringValue(L"m", text);
        wchar_t list[80];
        list[79] = L'#';
        DWORD chars = 79;
        if (key.QueryMultiStringValue(L"m", list, &chars) == ERROR_SUCCESS) {
            ASSERT_GE(chars, 1u);
            ASSERT_LE(chars, 79u);
            ASSERT_EQ(L'\0', list[chars - 1]);
        }
        ASSERT_EQ(L'#', list[79]);
        DWORD number = 0;
        key.QueryDWORDValue(L"m", number);
        ULONGLONG wide = 0;
        key.QueryQWORDValue(L"m", wide);
    }
    // The run must have reached the conversions, not stopped at the digest.
    EXPECT_GT(accepted, 300);
}

// Value names are stored in the ANSI code page: a name that the code page
// cannot hold would name another value (U+4E00 and U+4E8C both "?"), so it
// is refused with 1113 on every path, and nothing is written or read.
TEST_F(ObfuscatedRegKeyTest, NamesTheCodePageCannotHoldAreRefused)
{
    const std::wstring names[] = {L"\u4E00", L"\u4E8C", L"a\u4E00b", L"\u0100", L"x\U0001F600"};
    for (const std::wstring& name : names) {
        EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, key.SetDWORDValue(name.c_str(), 1)) << TestSupport::narrow(name);
        EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, key.SetStringValue(name.c_str(), L"text"));
        EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, key.SetBinaryValue(name.c_str(), "ab", 2));
        DWORD values = 99;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(scratch.handle(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                                  nullptr, &values, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(0U, values) << TestSupport::narrow(name);
    }
    // A value stored under "?" is not found under a name that would become "?".
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"?", 7));
    DWORD type = 0, size = 0;
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, key.QueryValue(L"\u4E00", &type, nullptr, &size));
    DWORD number = 0;
    EXPECT_EQ(ERROR_NO_UNICODE_TRANSLATION, key.QueryDWORDValue(L"\u4E8C", number));
    EXPECT_EQ(0U, number);
    // Names the code page holds are stored as before.
    ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(L"Gr\u00fc\u00dfe", 8));
    EXPECT_EQ(ERROR_SUCCESS, key.QueryDWORDValue(L"Gr\u00fc\u00dfe", number));
    EXPECT_EQ(8U, number);
}

#include "LogFile.h"
#include "TestNames.h"

#include "update/CvUpdateMgr_Helper.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Kest::CCvUpdateMgr_Helper;
using TestSupport::LogFile;

namespace {

const wchar_t* const kSource = L"CvUpdateMgr_Helper";

// A key below HKEY_LOCAL_MACHINE that the test writes as the update manager
// would; its whole tree goes with the object.
class MachineKey {
public:
    explicit MachineKey(std::wstring path) : m_path(std::move(path)) { RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()); }
    ~MachineKey() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_path.c_str()); }
    MachineKey(const MachineKey&) = delete;
    MachineKey& operator=(const MachineKey&) = delete;

    const std::wstring& path() const { return m_path; }
    void set(const wchar_t* name, DWORD type, const void* data, DWORD size) const
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
        RegCloseKey(key);
    }
    void setDword(const wchar_t* name, DWORD value) const { set(name, REG_DWORD, &value, sizeof(value)); }
    void setText(const wchar_t* name, const std::wstring& text) const
    {
        set(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

private:
    std::wstring m_path;
};

// One value as the update manager might have left it; `type` 0: no value.
struct StoredValue {
    DWORD type;
    std::vector<BYTE> bytes;
};

StoredValue dword(DWORD v)
{
    return {REG_DWORD, std::vector<BYTE>(reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + sizeof(v))};
}

StoredValue text(const std::wstring& t)
{
    const BYTE* begin = reinterpret_cast<const BYTE*>(t.c_str());
    return {REG_SZ, std::vector<BYTE>(begin, begin + (t.size() + 1) * sizeof(wchar_t))};
}

void store(const MachineKey& key, const wchar_t* name, const StoredValue& value)
{
    if (value.type != 0)
        key.set(name, value.type, value.bytes.data(), static_cast<DWORD>(value.bytes.size()));
}

class UpdateRegistry : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(log.ready()); }
    size_t count(uint32_t level, const wchar_t* function, const std::wstring& part) const
    {
        return log.find({level, kSource, function, part}).size();
    }

    LogFile log;
};

TEST_F(UpdateRegistry, PhaseOfARunningUpdate)
{
    struct Case {
        const char* label;
        StoredValue stored;
        DWORD phase;
        const wchar_t* warning; // null: none
    };
    const Case cases[] = {
        {"phase set", dword(4), 4, nullptr},
        {"phase zero", dword(0), 0, nullptr},
        {"no value", {0, {}}, 0, L"Failed to read update phase from the registry - error 2"},
        // Two bytes of text fit the phase: none of them may be taken for one.
        {"one letter of text", text(L"7"), 0, L"Failed to read update phase from the registry - error 0"},
        {"longer text", text(L"seven"), 0, L"Failed to read update phase from the registry - error 0"},
        {"binary", {REG_BINARY, {3, 0, 0, 0}}, 0, L"Failed to read update phase from the registry - error 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring name = TestSupport::uniqueName(TestSupport::widen(c.label));
        MachineKey key(L"SOFTWARE\\Corvane\\ZARIRU\\Update\\pkg_" + name);
        store(key, L"phase", c.stored);
        CCvUpdateMgr_Helper helper(name.c_str());
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, helper.EventName().c_str());
        ASSERT_NE(nullptr, event);
        BOOL running = 0;
        DWORD phase = 99;
        const size_t before = count(2, L"CCvUpdateMgr_Helper::IsUpdateRunning2", L"");
        const size_t sameWarnings = c.warning ? count(2, L"CCvUpdateMgr_Helper::IsUpdateRunning2", c.warning) : 0;
        EXPECT_EQ(S_OK, helper.IsUpdateRunning2(&running, &phase));
        CloseHandle(event);
        EXPECT_EQ(1, running);
        EXPECT_EQ(c.phase, phase);
        EXPECT_EQ(before + (c.warning ? 1 : 0), count(2, L"CCvUpdateMgr_Helper::IsUpdateRunning2", L""));
        if (c.warning) {
            EXPECT_EQ(1u, count(2, L"CCvUpdateMgr_Helper::IsUpdateRunning2", c.warning) - sameWarnings);
        }
    }
}

TEST_F(UpdateRegistry, NoUpdateLeavesThePhaseAlone)
{
    const std::wstring name = TestSupport::uniqueName();
    MachineKey key(L"SOFTWARE\\Corvane\\ZARIRU\\Update\\pkg_" + name);
    key.setDword(L"phase", 4);
    BOOL running = 1;
    DWORD phase = 99;
    EXPECT_EQ(S_OK, CCvUpdateMgr_Helper(name.c_str()).IsUpdateRunning2(&running, &phase));
    EXPECT_EQ(0, running);
    EXPECT_EQ(99u, phase);
}

TEST_F(UpdateRegistry, RestartPendingOnlyForTheValueOne)
{
    struct Case {
        const char* label;
        StoredValue stored;
        BOOL pending;
        const wchar_t* warning; // null: none
    };
    const Case cases[] = {
        {"one", dword(1), 1, nullptr},
        {"zero", dword(0), 0, nullptr},
        {"two", dword(2), 0, nullptr},
        {"no value", {0, {}}, 0, L"Failed to read IsRestartPending value from registry - error 2"},
        {"text", text(L"1"), 0, L"Invalid value type"},
        {"long text", text(L"pending"), 0, L"Invalid value type"},
        {"binary one", {REG_BINARY, {1, 0, 0, 0}}, 0, L"Invalid value type"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const std::wstring name = TestSupport::uniqueName(TestSupport::widen(c.label));
        MachineKey key(L"SOFTWARE\\Corvane\\Volatile\\" + name);
        store(key, L"IsRestartPending", c.stored);
        const size_t warnings = count(2, L"CCvUpdateMgr_Helper::IsRestartPending", L"");
        const size_t sameWarnings = c.warning ? count(2, L"CCvUpdateMgr_Helper::IsRestartPending", c.warning) : 0;
        const size_t pendingLines = count(1, L"CCvUpdateMgr_Helper::IsRestartPending", L"Restart is pending");
        BOOL pending = 7;
        EXPECT_EQ(S_OK, CCvUpdateMgr_Helper(name.c_str()).IsRestartPending(&pending));
        EXPECT_EQ(c.pending, pending);
        EXPECT_EQ(warnings + (c.warning ? 1 : 0), count(2, L"CCvUpdateMgr_Helper::IsRestartPending", L""));
        if (c.warning) {
            EXPECT_EQ(1u, count(2, L"CCvUpdateMgr_Helper::IsRestartPending", c.warning) - sameWarnings);
        }
        EXPECT_EQ(pendingLines + (c.pending ? 1 : 0),
                  count(1, L"CCvUpdateMgr_Helper::IsRestartPending", L"Restart is pending"));
    }
    EXPECT_EQ(6u, count(1, L"CCvUpdateMgr_Helper::IsRestartPending", L"No restart is pending"));
    EXPECT_EQ(7u, count(1, L"CCvUpdateMgr_Helper::IsRestartPending", L"Checking if restart is pending..."));
}

// The "default" update keeps its restart value in a key of its own.
TEST_F(UpdateRegistry, DefaultUpdateReadsItsOwnKey)
{
    MachineKey vlx(L"SOFTWARE\\Corvane\\Volatile\\VLX");
    MachineKey plain(L"SOFTWARE\\Corvane\\Volatile\\default");
    plain.setDword(L"IsRestartPending", 1);
    BOOL pending = 7;
    EXPECT_EQ(S_OK, CCvUpdateMgr_Helper(L"default").IsRestartPending(&pending));
    EXPECT_EQ(0, pending);
    vlx.setDword(L"IsRestartPending", 1);
    EXPECT_EQ(S_OK, CCvUpdateMgr_Helper(L"default").IsRestartPending(&pending));
    EXPECT_EQ(1, pending);
    // Only the exact name is the default one ("Default" names the same key
    // as "default": registry names ignore case).
    plain.setDword(L"IsRestartPending", 0);
    EXPECT_EQ(S_OK, CCvUpdateMgr_Helper(L"Default").IsRestartPending(&pending));
    EXPECT_EQ(0, pending);
}

// A name the ANSI code page cannot hold must not read the key of the name it
// would be squeezed into.
TEST_F(UpdateRegistry, NameOutsideTheCodePageReadsNothing)
{
    const std::wstring stem = TestSupport::uniqueName();
    const std::wstring wide = stem + L"\x4E2D";
    char narrow[512] = {};
    BOOL substituted = FALSE;
    WideCharToMultiByte(CP_THREAD_ACP, 0, wide.c_str(), -1, narrow, sizeof(narrow), nullptr, &substituted);
    if (!substituted)
        GTEST_SKIP() << "the thread's code page holds the character";
    MachineKey squeezed(L"SOFTWARE\\Corvane\\Volatile\\" + stem + L"?");
    squeezed.setDword(L"IsRestartPending", 1);
    BOOL pending = 7;
    EXPECT_EQ(S_OK, CCvUpdateMgr_Helper(wide.c_str()).IsRestartPending(&pending));
    EXPECT_EQ(0, pending);
    EXPECT_EQ(1u, count(2, L"CCvUpdateMgr_Helper::IsRestartPending",
                        L"Failed to read IsRestartPending value from registry - error 1113"));
}

TEST_F(UpdateRegistry, ReadsValuesAsUtf16)
{
    MachineKey key(L"SOFTWARE\\Corvane\\Volatile\\" + TestSupport::uniqueName());
    const char multi[] = "ab\0cde\0";        // the final extra NUL is missing
    const char unterminated[] = {'x', 'y'};
    const std::wstring subkey = key.path();
    HKEY raw = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &raw, nullptr));
    RegSetValueExA(raw, "sz", 0, REG_SZ, reinterpret_cast<const BYTE*>("hello"), 6);
    RegSetValueExA(raw, "multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof(multi) - 1);
    RegSetValueExA(raw, "bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), sizeof(unterminated));
    RegCloseKey(raw);
    key.setDword(L"dword", 0x01020304);

    struct Case {
        const wchar_t* name;
        DWORD type;
        std::wstring expected; // as UTF-16 with its terminators
    };
    const Case cases[] = {
        {L"sz", REG_SZ, std::wstring(L"hello", 6)},
        {L"multi", REG_MULTI_SZ, std::wstring(L"ab\0cde\0\0", 8)},
        {L"bare", REG_SZ, std::wstring(L"xy", 3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.name));
        const DWORD needed = static_cast<DWORD>(c.expected.size() * sizeof(wchar_t));
        DWORD type = 0;
        DWORD size = 0;
        EXPECT_EQ(0u, CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), c.name, &type, nullptr, &size));
        EXPECT_EQ(needed, size);
        EXPECT_EQ(c.type, type);

        std::vector<wchar_t> buffer(64, L'#');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        EXPECT_EQ(0u, CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), c.name, &type,
                                                            reinterpret_cast<BYTE*>(buffer.data()), &size));
        EXPECT_EQ(needed, size);
        EXPECT_EQ(c.expected, std::wstring(buffer.data(), size / sizeof(wchar_t)));

        // One byte short: nothing of the value, and the size it needs.
        std::vector<BYTE> small(needed - 1, 0xAB);
        size = needed - 1;
        EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
                  CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), c.name, &type, small.data(), &size));
        EXPECT_EQ(needed, size);
        EXPECT_EQ(std::vector<BYTE>(needed - 1, 0), small);
    }

    DWORD value = 0, type = 0, size = sizeof(value);
    EXPECT_EQ(0u, CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), L"dword", &type,
                                                        reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(0x01020304u, value);
    BYTE two[2] = {0xAB, 0xAB};
    size = 2;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA),
              CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), L"dword", &type, two, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0, two[0] | two[1]);

    size = 4;
    EXPECT_EQ(2u, CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), L"missing", &type,
                                                        reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(2u, CCvUpdateMgr_Helper::ReadRegistryValue((subkey + L"\\none").c_str(), L"dword", &type,
                                                        reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(87u, CCvUpdateMgr_Helper::ReadRegistryValue(nullptr, L"dword", &type, nullptr, &size));
    EXPECT_EQ(87u, CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), nullptr, &type, nullptr, &size));
    EXPECT_EQ(87u, CCvUpdateMgr_Helper::ReadRegistryValue(subkey.c_str(), L"dword", &type, nullptr, nullptr));
}

TEST(UpdateTextConversion, SizeQueryShortBufferAndBadInput)
{
    DWORD size = 0;
    EXPECT_EQ(0u, CCvUpdateMgr_Helper::WideToNarrow(L"abc", -1, nullptr, &size));
    EXPECT_EQ(4u, size);
    char narrow[4] = {'#', '#', '#', '#'};
    size = 3;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), CCvUpdateMgr_Helper::WideToNarrow(L"abc", -1, narrow, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0u, CCvUpdateMgr_Helper::WideToNarrow(L"abc", -1, narrow, &size));
    EXPECT_STREQ("abc", narrow);

    EXPECT_EQ(0u, CCvUpdateMgr_Helper::NarrowToWide("ab", 2, nullptr, &size));
    EXPECT_EQ(2u, size);
    wchar_t wide[3] = {L'#', L'#', L'#'};
    size = 1;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MORE_DATA), CCvUpdateMgr_Helper::NarrowToWide("ab", 2, wide, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(L'#', wide[0]);
    size = 3;
    EXPECT_EQ(0u, CCvUpdateMgr_Helper::NarrowToWide("ab", 2, wide, &size));
    EXPECT_EQ(2u, size);
    EXPECT_EQ(std::wstring(L"ab#"), std::wstring(wide, 3));

    EXPECT_EQ(87u, CCvUpdateMgr_Helper::WideToNarrow(nullptr, -1, narrow, &size));
    EXPECT_EQ(87u, CCvUpdateMgr_Helper::WideToNarrow(L"abc", -1, narrow, nullptr));
    EXPECT_EQ(87u, CCvUpdateMgr_Helper::NarrowToWide(nullptr, -1, wide, &size));
    EXPECT_EQ(87u, CCvUpdateMgr_Helper::NarrowToWide("ab", -1, wide, nullptr));
}

} // namespace

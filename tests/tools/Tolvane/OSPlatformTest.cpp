#include "OSPlatform.h"

#include "TestNames.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

namespace {

// A system of the NT family (or of no known family) whose kernel library
// reports the chosen product version; no service packs.
class PlayedVersionAPI : public Halvex::WinOSVersionAPI {
public:
    explicit PlayedVersionAPI(DWORD platformId = VER_PLATFORM_WIN32_NT) : m_platformId(platformId) {}
    BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD type, DWORDLONG) override
    {
        return type == VER_PLATFORMID && info->dwPlatformId == m_platformId;
    }

private:
    DWORD m_platformId;
};

class PlayedKernel : public Halvex::internal::KernelVersionSource {
public:
    explicit PlayedKernel(std::wstring version) : m_version(std::move(version)) {}
    std::wstring ProductVersion() override { return m_version; }

private:
    std::wstring m_version;
};

struct OsCase {
    const wchar_t* kernelVersion;
    DWORD platformId;
    bool result;
    uint32_t osCode;
    int32_t platform;
};

void PrintTo(const OsCase& c, std::ostream* out) { *out << TestSupport::narrow(c.kernelVersion) << " " << c.platformId; }

class QueryOsInfo : public ::testing::TestWithParam<OsCase> {};

TEST_P(QueryOsInfo, MapsTheClassification)
{
    const OsCase& c = GetParam();
    const Halvex::internal::OSInfoProxyT<PlayedVersionAPI> proxy(std::make_shared<PlayedKernel>(c.kernelVersion),
                                                                 PlayedVersionAPI(c.platformId));
    uint32_t osCode = 77;
    int32_t platform = 77;
    EXPECT_EQ(c.result, queryOsInfoFrom(proxy, osCode, platform));
    EXPECT_EQ(c.osCode, osCode);
    EXPECT_EQ(c.platform, platform);
}

INSTANTIATE_TEST_SUITE_P(Cases, QueryOsInfo,
                         ::testing::Values(OsCase{L"10.0.19041.1", VER_PLATFORM_WIN32_NT, true, 11, 1},
                                           OsCase{L"6.1.7601.17514", VER_PLATFORM_WIN32_NT, true, 8, 1},
                                           OsCase{L"5.0.2195.0", VER_PLATFORM_WIN32_NT, true, 4, 0},
                                           // An unknown major version: code 0, platform kept.
                                           OsCase{L"12.0.1.0", VER_PLATFORM_WIN32_NT, false, 0, 1},
                                           // Nothing determined: both outputs untouched.
                                           OsCase{L"10.0.19041.1", 99, false, 77, 77},
                                           OsCase{L"", VER_PLATFORM_WIN32_NT, false, 77, 77}));

TEST(PlatformValue, IsSixtyFourBitOnTheSystemsThatRunThisProgram)
{
    EXPECT_EQ(1, getPlatformValue());
}

} // namespace

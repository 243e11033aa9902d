#include "OSInfo/OSInfoProxy.h"

#include "TestNames.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace Halvex;
using Halvex::internal::OSInfoProxy;
using Halvex::internal::OSInfoProxyT;

namespace {

// The Windows release a fake version API plays.
struct Release {
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    uint32_t minor = 0;
    uint16_t servicePack = 0;

    std::mutex lock;
    std::vector<const void*> askedObjects;
    int platformQuestions = 0;
    int questions = 0;
};

BYTE conditionOf(DWORD type, DWORDLONG mask)
{
    int index = 0;
    while (index < 8 && !(type & (1u << index)))
        ++index;
    return static_cast<BYTE>((mask >> (3 * index)) & 7);
}

template <typename T>
bool holds(BYTE condition, T actual, T asked)
{
    switch (condition) {
    case VER_EQUAL:
        return actual == asked;
    case VER_LESS:
        return actual < asked;
    default:
        ADD_FAILURE() << "unexpected condition " << int(condition);
        return false;
    }
}

class FakeVersionAPI : public WinOSVersionAPI {
public:
    FakeVersionAPI() : release(std::make_shared<Release>()) {}
    explicit FakeVersionAPI(std::shared_ptr<Release> played) : release(std::move(played)) {}

    BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD type, DWORDLONG mask) override
    {
        std::lock_guard<std::mutex> hold(release->lock);
        release->askedObjects.push_back(this);
        ++release->questions;
        EXPECT_EQ(info->dwOSVersionInfoSize, 284u);
        const BYTE condition = conditionOf(type, mask);
        switch (type) {
        case VER_PLATFORMID:
            ++release->platformQuestions;
            return holds(condition, release->platformId, info->dwPlatformId);
        case VER_MINORVERSION:
            return release->platformId == VER_PLATFORM_WIN32_WINDOWS &&
                   holds(condition, release->minor, static_cast<uint32_t>(info->dwMinorVersion));
        case VER_SERVICEPACKMAJOR:
            return holds(condition, release->servicePack, info->wServicePackMajor);
        default:
            ADD_FAILURE() << "unexpected type mask " << type;
            return FALSE;
        }
    }

    std::shared_ptr<Release> release;
};

using FakeProxy = OSInfoProxyT<FakeVersionAPI>;

// A kernel library whose product version the test chooses, and a release
// the version API plays.
class FakeKernel : public internal::KernelVersionSource {
public:
    std::wstring ProductVersion() override
    {
        ++reads;
        return productVersion;
    }
    std::wstring productVersion;
    int reads = 0;
};

class FakeSystem {
public:
    FakeSystem() : kernel(std::make_shared<FakeKernel>()), release(std::make_shared<Release>()) {}

    void installKernel(const std::wstring& productVersion) const { kernel->productVersion = productVersion; }

    FakeProxy proxy() const { return FakeProxy(kernel, FakeVersionAPI(release)); }

    std::shared_ptr<FakeKernel> kernel;
    std::shared_ptr<Release> release;
};

struct Facts {
    OSCode code;
    OSPlatform platform;
    bool gotInfo;
    OSVersionNumbers numbers;
    bool gotNumbers;
    uint32_t kernel[4];
    bool gotKernel;
};

Facts factsOf(const FakeProxy& proxy)
{
    Facts facts{};
    facts.gotInfo = proxy.GetOSInfo(facts.code, facts.platform);
    facts.gotNumbers = proxy.GetVersionNumbers(facts.numbers);
    facts.gotKernel = proxy.GetKernelVersion(facts.kernel[0], facts.kernel[1], facts.kernel[2], facts.kernel[3]);
    EXPECT_EQ(proxy.GetOSVersion(), facts.code);
    EXPECT_EQ(proxy.GetPlatform(), facts.platform);
    return facts;
}

TEST(OSInfoProxyTest, NTReleasesAreClassifiedFromTheKernelVersion)
{
    struct Case {
        const wchar_t* kernel;
        uint16_t playedServicePack;
        OSCode code;
        OSPlatform platform;
        uint32_t numbers[4];
        uint16_t servicePack;
        bool gotNumbers;
    } const cases[] = {
        {L"10.0.19041.1", 3, OSCodeNT10, OSPlatformX64, {10, 0, 19041, 1}, 0, true},
        {L"6.1.7601.17514", 1, OSCodeNT61, OSPlatformX64, {6, 1, 7601, 17514}, 1, true},
        {L"6.1.7601.17514", 0, OSCodeNT61, OSPlatformX64, {6, 1, 7601, 17514}, 0, true},
        {L"6.3.9600.0", 1, OSCodeNT63, OSPlatformX64, {6, 3, 9600, 0}, 0, true},
        {L"6.2", 0, OSCodeNT62, OSPlatformX64, {6, 2, 0, 0}, 0, true},
        {L"6.0.6002", 2, OSCodeNT60, OSPlatformX64, {6, 0, 6002, 0}, 2, true},
        {L"5.1.2600", 3, OSCodeNT5x, OSPlatformX64, {5, 1, 2600, 0}, 3, true},
        {L"5.1.2600", 4, OSCodeNT5x, OSPlatformX64, {5, 1, 2600, 0}, 0, true},
        {L"5.0.2195", 4, OSCodeNT50, OSPlatformWin32, {5, 0, 2195, 0}, 4, true},
        {L"4.0", 6, OSCodeNT4OrLower, OSPlatformWin32, {4, 0, 0, 0}, 0, true},
        // An unknown major still fills the numbers in, but says it is unsure.
        {L"7.1", 0, OSCodeNTOther, OSPlatformX64, {7, 1, 0, 0}, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.kernel));
        FakeSystem system;
        system.installKernel(c.kernel);
        system.release->servicePack = c.playedServicePack;
        const FakeProxy proxy = system.proxy();
        const Facts facts = factsOf(proxy);
        EXPECT_TRUE(facts.gotInfo);
        EXPECT_EQ(facts.code, c.code);
        EXPECT_EQ(facts.platform, c.platform);
        EXPECT_EQ(facts.gotNumbers, c.gotNumbers);
        EXPECT_EQ(facts.numbers.major, c.numbers[0]);
        EXPECT_EQ(facts.numbers.minor, c.numbers[1]);
        EXPECT_EQ(facts.numbers.servicePack, c.servicePack);
        EXPECT_TRUE(facts.gotKernel);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(facts.kernel[i], c.numbers[i]) << "kernel number " << i;
        EXPECT_TRUE(proxy.IsNTPlatform());
    }
}

TEST(OSInfoProxyTest, Windows9xMinorVersionIsProbed)
{
    struct Case {
        uint32_t minor;
        OSCode code;
    } const cases[] = {
        {0, OSCodeWin9xMinor0},        {1, OSCodeWin9xMinorBelow90},  {10, OSCodeWin9xMinorBelow90},
        {89, OSCodeWin9xMinorBelow90}, {90, OSCodeWin9xMinor90OrMore}, {99, OSCodeWin9xMinor90OrMore},
        // At or beyond the probe's limit nothing is found.
        {100, OSCodeUnknown},          {101, OSCodeUnknown},           {103, OSCodeUnknown},
        {104, OSCodeUnknown},          {250, OSCodeUnknown},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.minor);
        FakeSystem system;
        system.installKernel(L"10.0.19041.1"); // does not enter this branch
        system.release->platformId = VER_PLATFORM_WIN32_WINDOWS;
        system.release->minor = c.minor;
        const Facts facts = factsOf(system.proxy());
        const bool found = c.code != OSCodeUnknown;
        EXPECT_EQ(facts.gotInfo, found);
        EXPECT_EQ(facts.code, c.code);
        EXPECT_EQ(facts.platform, found ? OSPlatformWin32 : OSPlatformUnknown);
        EXPECT_EQ(facts.gotNumbers, found);
        EXPECT_EQ(facts.numbers.major, found ? 4u : 0u);
        EXPECT_EQ(facts.numbers.minor, found ? c.minor : 0u);
    }
}

TEST(OSInfoProxyTest, MinorVersionProbeFindsEveryNumberBelowItsLimit)
{
    for (uint32_t limit : {100u, 8u, 13u}) {
        for (uint32_t minor = 0; minor < limit + 20; ++minor) {
            int questions = 0;
            const uint32_t found = internal::ProbeMinorVersion(limit, [&](uint32_t value, BYTE condition) {
                ++questions;
                return condition == VER_LESS ? minor < value : minor == value;
            });
            EXPECT_EQ(found, minor < limit ? minor : limit) << "limit " << limit << " minor " << minor;
            EXPECT_LE(questions, 17) << "limit " << limit << " minor " << minor;
        }
    }
}

TEST(OSInfoProxyTest, UnreadableKernelVersionLeavesEverythingUndetermined)
{
    // "" stands for a kernel32.dll that cannot be read or has no such text.
    for (const wchar_t* kernel : {L"", L"6.2.", L"6.x.1", L"6..1", L"10.0.19041.1 "}) {
        SCOPED_TRACE(TestSupport::narrow(kernel));
        FakeSystem system;
        system.installKernel(kernel);
        const FakeProxy proxy = system.proxy();
        const Facts facts = factsOf(proxy);
        EXPECT_FALSE(facts.gotInfo);
        EXPECT_EQ(facts.code, OSCodeUnknown);
        EXPECT_EQ(facts.platform, OSPlatformUnknown);
        EXPECT_FALSE(facts.gotNumbers);
        EXPECT_FALSE(facts.gotKernel);
        for (uint32_t number : facts.kernel)
            EXPECT_EQ(number, 0u);
        // Never got as far as asking the version API.
        EXPECT_EQ(system.release->platformQuestions, 0);
    }
}

TEST(OSInfoProxyTest, AFailedClassificationIsTriedAgainByTheNextQuestion)
{
    FakeSystem system;
    system.installKernel(L"10.0.19041.1");
    system.release->platformId = 0; // neither family: every platform question says no
    const FakeProxy proxy = system.proxy();
    for (int round = 1; round <= 3; ++round) {
        EXPECT_EQ(proxy.GetPlatform(), OSPlatformUnknown);
        EXPECT_EQ(proxy.GetOSVersion(), OSCodeUnknown);
        EXPECT_EQ(system.release->platformQuestions, round * 4);
    }
    EXPECT_FALSE(proxy.IsNTPlatform());

    // Once the system answers, the facts are worked out and kept.
    system.release->platformId = VER_PLATFORM_WIN32_NT;
    EXPECT_EQ(proxy.GetOSVersion(), OSCodeNT10);
    const int asked = system.release->questions;
    EXPECT_EQ(proxy.GetPlatform(), OSPlatformX64);
    OSVersionNumbers numbers;
    EXPECT_TRUE(proxy.GetVersionNumbers(numbers));
    EXPECT_EQ(system.release->questions, asked);
}

TEST(OSInfoProxyTest, AnUnreadableKernelVersionIsReadAgain)
{
    FakeSystem system;
    const FakeProxy proxy = system.proxy();
    EXPECT_EQ(proxy.GetOSVersion(), OSCodeUnknown);
    EXPECT_EQ(proxy.GetPlatform(), OSPlatformUnknown);
    EXPECT_EQ(system.kernel->reads, 2);
    system.installKernel(L"6.3.9600.0");
    EXPECT_EQ(proxy.GetOSVersion(), OSCodeNT63);
    EXPECT_EQ(proxy.GetPlatform(), OSPlatformX64);
    EXPECT_EQ(system.kernel->reads, 3);
}

TEST(OSInfoProxyTest, ManyThreadsClassifyOnce)
{
    FakeSystem system;
    system.installKernel(L"6.1.7601.17514");
    system.release->servicePack = 1;
    const FakeProxy proxy = system.proxy();
    std::vector<std::thread> threads;
    std::vector<int> codes(8);
    for (size_t i = 0; i < codes.size(); ++i)
        threads.emplace_back([&, i] { codes[i] = proxy.GetOSVersion(); });
    for (auto& thread : threads)
        thread.join();
    for (int code : codes)
        EXPECT_EQ(code, OSCodeNT61);
    // One run: the 9x question, then the NT question.
    EXPECT_EQ(system.release->platformQuestions, 2);
}

TEST(OSInfoProxyTest, ACopyAsksItsOwnVersionAPI)
{
    FakeSystem system;
    system.installKernel(L"10.0.19041.1");

    auto original = std::make_unique<FakeProxy>(system.proxy());
    FakeProxy copied(*original);
    FakeProxy assigned = system.proxy();
    assigned = *original;
    original.reset();

    for (const FakeProxy* proxy : {&copied, &assigned}) {
        system.release->askedObjects.clear();
        EXPECT_EQ(proxy->GetOSVersion(), OSCodeNT10);
        EXPECT_TRUE(proxy->IsNTPlatform());
        ASSERT_FALSE(system.release->askedObjects.empty());
        const auto* begin = reinterpret_cast<const char*>(proxy);
        for (const void* asked : system.release->askedObjects) {
            const auto* at = static_cast<const char*>(asked);
            EXPECT_TRUE(at >= begin && at < begin + sizeof(FakeProxy)) << "asked an API object outside the proxy";
        }
    }
}

TEST(OSInfoProxyTest, ACopyOfAClassifiedProxyKeepsTheFacts)
{
    FakeSystem system;
    system.installKernel(L"6.2");
    const FakeProxy original = system.proxy();
    ASSERT_EQ(original.GetOSVersion(), OSCodeNT62);
    const int asked = system.release->questions;
    const FakeProxy copied(original);
    EXPECT_EQ(copied.GetOSVersion(), OSCodeNT62);
    EXPECT_EQ(copied.GetPlatform(), OSPlatformX64);
    EXPECT_EQ(system.release->questions, asked);
}

TEST(OSInfoProxyTest, RunOnceReturnsToIdleWhenTheCallbackThrows)
{
    std::atomic<uint32_t> state{internal::OnceIdle};
    EXPECT_THROW(internal::RunOnce(state, []() -> bool { throw std::runtime_error("bad"); }), std::runtime_error);
    EXPECT_EQ(state.load(), internal::OnceIdle);
    EXPECT_FALSE(internal::RunOnce(state, [] { return false; }));
    EXPECT_EQ(state.load(), internal::OnceIdle);
    EXPECT_TRUE(internal::RunOnce(state, [] { return true; }));
    int runs = 0;
    EXPECT_TRUE(internal::RunOnce(state, [&] { return ++runs > 0; }));
    EXPECT_EQ(runs, 0);
}

// Wine's kernel32.dll carries a product version 10.0.x whatever release the
// prefix is set to report.
TEST(OSInfoProxyTest, TheRunningSystemIsA64BitNTRelease)
{
    const OSInfoProxy proxy;
    OSCode code;
    OSPlatform platform;
    ASSERT_TRUE(proxy.GetOSInfo(code, platform));
    EXPECT_EQ(platform, OSPlatformX64);
    EXPECT_EQ(code, OSCodeNT10);
    EXPECT_TRUE(proxy.IsNTPlatform());
    EXPECT_FALSE(proxy.IsWow64());
    uint32_t kernel[4];
    ASSERT_TRUE(proxy.GetKernelVersion(kernel[0], kernel[1], kernel[2], kernel[3]));
    OSVersionNumbers numbers;
    ASSERT_TRUE(proxy.GetVersionNumbers(numbers));
    EXPECT_EQ(numbers.major, kernel[0]);
    EXPECT_EQ(numbers.minor, kernel[1]);
}

} // namespace

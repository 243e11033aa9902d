#pragma once
#include "OSInfo/KernelVersionSource.h"
#include "OSInfo/ProbeMinorVersion.h"
#include "OSInfo/QueryIsWow64.h"
#include "OSInfo/RunOnce.h"
#include "OSInfo/VersionNumberText.h"
#include "OSInfo/WinOSVersionAPI.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

namespace Halvex {

// A classification of the Windows release.
enum OSCode : uint32_t {
    OSCodeUnknown = 0,
    OSCodeWin9xMinor0 = 1,
    OSCodeWin9xMinorBelow90 = 2,
    OSCodeNT4OrLower = 3,
    OSCodeNT50 = 4,
    OSCodeWin9xMinor90OrMore = 5,
    OSCodeNT5x = 6,
    OSCodeNT60 = 7,
    OSCodeNT61 = 8,
    OSCodeNT62 = 9,
    OSCodeNT63 = 10,
    OSCodeNT10 = 11,
    OSCodeNTOther = 12,
};

// Derived from the release, not from the processor.
enum OSPlatform : uint32_t {
    OSPlatformWin32 = 0,
    OSPlatformX64 = 1,
    OSPlatformUnknown = 2,
};

struct OSVersionNumbers {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint16_t servicePack = 0;
};

namespace internal {

// Facts about the running Windows, worked out once on the first question
// that needs them (from the product version of the system's kernel32.dll and
// VerifyVersionInfoW) and kept for the object's life. A failed attempt is
// retried by the next question. Any thread may ask.
//
// VersionAPI: WinOSVersionAPI or a class with the same VerifyVersionInfoW;
// the proxy holds its own copy.
template <class VersionAPI>
class OSInfoProxyT {
public:
    class _Impl {
    public:
        _Impl(VersionAPI* api, std::shared_ptr<KernelVersionSource> kernel) : m_api(api), m_kernel(std::move(kernel))
        {
        }
        virtual ~_Impl() = default;
        _Impl(const _Impl&) = delete;
        _Impl& operator=(const _Impl&) = delete;

        virtual bool ReadKernelVersion()
        {
            const std::wstring text = m_kernel->ProductVersion();
            return !text.empty() && ParseVersionNumberText(text, m_kernelVersion);
        }

        // True once a classification succeeded; the facts may be read then.
        bool Determine()
        {
            return RunOnce(m_once, [this] { return Classify(); });
        }

        bool Classify()
        {
            if (!ReadKernelVersion())
                return false;
            if (IsPlatformId(VER_PLATFORM_WIN32_WINDOWS)) {
                const bool classified = ClassifyWin9x();
                m_determined = 1;
                return classified;
            }
            if (IsPlatformId(VER_PLATFORM_WIN32_NT)) {
                const bool classified = ClassifyNT();
                m_determined = 1;
                return classified;
            }
            return false;
        }

        bool ClassifyNT()
        {
            const uint32_t major = m_kernelVersion[0];
            const uint32_t minor = m_kernelVersion[1];
            uint16_t probeFrom = 0;
            m_platform = OSPlatformX64;
            if (major <= 4) {
                m_code = OSCodeNT4OrLower;
                m_platform = OSPlatformWin32;
            } else if (major == 5 && minor == 0) {
                m_code = OSCodeNT50;
                probeFrom = 4;
                m_platform = OSPlatformWin32;
            } else if (major == 5) {
                m_code = OSCodeNT5x;
                probeFrom = 3;
            } else if (major == 6 && minor == 0) {
                m_code = OSCodeNT60;
                probeFrom = 2;
            } else if (major == 6 && minor == 1) {
                m_code = OSCodeNT61;
                probeFrom = 1;
            } else if (major == 6 && minor == 2) {
                m_code = OSCodeNT62;
            } else if (major == 6) {
                m_code = OSCodeNT63;
            } else if (major == 10) {
                m_code = OSCodeNT10;
            } else {
                m_code = OSCodeNTOther;
            }
            m_version.major = major;
            m_version.minor = minor;
            m_version.servicePack = ProbeServicePack(probeFrom);
            return true;
        }

        bool ClassifyWin9x()
        {
            const uint32_t limit = 100;
            const uint32_t minor = ProbeMinorVersion(
                limit, [this](uint32_t value, BYTE condition) { return CompareMinorVersion(value, condition); });
            if (minor == limit)
                return false;
            m_version.major = 4;
            m_version.minor = minor;
            m_version.servicePack = 0;
            m_platform = OSPlatformWin32;
            m_code = minor == 0 ? OSCodeWin9xMinor0 : minor < 90 ? OSCodeWin9xMinorBelow90 : OSCodeWin9xMinor90OrMore;
            return true;
        }

        uint16_t ProbeServicePack(uint16_t from)
        {
            for (uint16_t pack = from; pack >= 1; --pack) {
                OSVERSIONINFOEXW info = Record();
                info.wServicePackMajor = pack;
                if (Ask(info, VER_SERVICEPACKMAJOR, VER_EQUAL))
                    return pack;
            }
            return 0;
        }

        bool CompareMinorVersion(uint32_t value, BYTE condition)
        {
            OSVERSIONINFOEXW info = Record();
            info.dwMinorVersion = value;
            return Ask(info, VER_MINORVERSION, condition);
        }

        bool IsPlatformId(DWORD id)
        {
            OSVERSIONINFOEXW info = Record();
            info.dwPlatformId = id;
            return Ask(info, VER_PLATFORMID, VER_EQUAL);
        }

        // Takes the facts of a classified object (a copy need not ask again).
        void CopyFactsFrom(_Impl& other)
        {
            if (other.m_once.load(std::memory_order_acquire) != OnceDone)
                return;
            m_determined = other.m_determined;
            m_version = other.m_version;
            for (int i = 0; i < 4; ++i)
                m_kernelVersion[i] = other.m_kernelVersion[i];
            m_code = other.m_code;
            m_platform = other.m_platform;
            m_once.store(OnceDone, std::memory_order_release);
        }

        std::atomic<uint32_t> m_once{OnceIdle};
        uint32_t m_determined = 0;
        OSVersionNumbers m_version;
        uint32_t m_kernelVersion[4] = {};
        uint32_t m_code = OSCodeUnknown;
        uint32_t m_platform = 0;
        VersionAPI* m_api;
        std::shared_ptr<KernelVersionSource> m_kernel;

    private:
        static OSVERSIONINFOEXW Record()
        {
            OSVERSIONINFOEXW info = {};
            info.dwOSVersionInfoSize = sizeof(info);
            return info;
        }

        bool Ask(OSVERSIONINFOEXW& info, DWORD type, BYTE condition)
        {
            return m_api->VerifyVersionInfoW(&info, type, VerSetConditionMask(0, type, condition)) != FALSE;
        }
    };

    // An empty source stands for the system's kernel32.dll.
    explicit OSInfoProxyT(std::shared_ptr<KernelVersionSource> kernel = nullptr, const VersionAPI& api = VersionAPI())
        : m_api(api),
          m_impl(std::make_shared<_Impl>(&m_api, kernel ? std::move(kernel) : std::make_shared<KernelVersionSource>()))
    {
    }

    // A copy gets an implementation of its own that points at its own API
    // object: sharing the source's would leave it pointing into the source.
    OSInfoProxyT(const OSInfoProxyT& other) : m_api(other.m_api), m_impl(CopyImpl(other)) {}
    OSInfoProxyT& operator=(const OSInfoProxyT& other)
    {
        if (this != &other) {
            m_api = other.m_api;
            m_impl = CopyImpl(other);
        }
        return *this;
    }

    virtual ~OSInfoProxyT() = default;

    // OSCodeUnknown while the release cannot be determined.
    virtual OSCode GetOSVersion() const
    {
        return m_impl->Determine() ? static_cast<OSCode>(m_impl->m_code) : OSCodeUnknown;
    }

    // OSPlatformUnknown while the release cannot be determined.
    virtual OSPlatform GetPlatform() const
    {
        return m_impl->Determine() ? static_cast<OSPlatform>(m_impl->m_platform) : OSPlatformUnknown;
    }

    // Zeroed, then filled once determined; false when not determined or for
    // an unknown NT major version (the numbers are filled in then).
    virtual bool GetVersionNumbers(OSVersionNumbers& numbers) const
    {
        numbers = OSVersionNumbers();
        if (!m_impl->Determine())
            return false;
        numbers = m_impl->m_version;
        return m_impl->m_code != OSCodeNTOther;
    }

    virtual bool GetOSInfo(OSCode& code, OSPlatform& platform) const
    {
        code = OSCodeUnknown;
        platform = OSPlatformUnknown;
        if (!m_impl->Determine())
            return false;
        code = static_cast<OSCode>(m_impl->m_code);
        platform = static_cast<OSPlatform>(m_impl->m_platform);
        return true;
    }

    // Asked anew every time.
    virtual bool IsWow64() const { return QueryIsWow64(); }
    virtual bool IsNTPlatform() const { return m_impl->IsPlatformId(VER_PLATFORM_WIN32_NT); }

    // The product version of the system's kernel32.dll.
    virtual bool GetKernelVersion(uint32_t& major, uint32_t& minor, uint32_t& build, uint32_t& revision) const
    {
        major = minor = build = revision = 0;
        if (!m_impl->Determine())
            return false;
        major = m_impl->m_kernelVersion[0];
        minor = m_impl->m_kernelVersion[1];
        build = m_impl->m_kernelVersion[2];
        revision = m_impl->m_kernelVersion[3];
        return true;
    }

protected:
    std::shared_ptr<_Impl> CopyImpl(const OSInfoProxyT& other)
    {
        auto impl = std::make_shared<_Impl>(&m_api, other.m_impl->m_kernel);
        impl->CopyFactsFrom(*other.m_impl);
        return impl;
    }

    VersionAPI m_api;
    std::shared_ptr<_Impl> m_impl;
};

extern template class OSInfoProxyT<WinOSVersionAPI>;

// The proxy over the real system.
using OSInfoProxy = OSInfoProxyT<WinOSVersionAPI>;

} // namespace internal
} // namespace Halvex

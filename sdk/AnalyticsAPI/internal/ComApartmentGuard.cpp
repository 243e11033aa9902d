#include "AnalyticsAPI/internal/ComApartmentGuard.h"

#include <objbase.h>

namespace Ostrand {
namespace Analytics {
namespace internal {

ComApartmentGuard::ComApartmentGuard() : m_initialized(CoInitializeEx(nullptr, COINIT_MULTITHREADED) >= 0) {}

ComApartmentGuard::~ComApartmentGuard()
{
    if (m_initialized)
        CoUninitialize();
}

} // namespace internal
} // namespace Analytics
} // namespace Ostrand

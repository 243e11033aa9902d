#include "ReferenceProvider.h"

namespace Ostrand {

bool ReferenceProvider::initialize()
{
    if (m_initialized || !doInitialize())
        return false;
    m_initialized = true;
    return true;
}

bool ReferenceProvider::uninitialize()
{
    if (!m_initialized || !doUninitialize())
        return false;
    m_initialized = false;
    return true;
}

bool ReferenceProvider::isInitialized() const { return m_initialized; }
bool ReferenceProvider::load(std::set<std::wstring>&) { return true; }
bool ReferenceProvider::save(const std::set<std::wstring>&) { return true; }
bool ReferenceProvider::wasBusy() const { return false; }
bool ReferenceProvider::doInitialize() { return true; }
bool ReferenceProvider::doUninitialize() { return true; }

} // namespace Ostrand

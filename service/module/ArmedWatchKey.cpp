#include "module/ArmedWatchKey.h"

namespace Kest {

ArmedWatchKey::ArmedWatchKey(std::function<void()> onArmed) : m_onArmed(std::move(onArmed)) {}

LONG ArmedWatchKey::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    const LONG armed = CRegKeyImpl::NotifyChangeKeyValue(watchSubtree, filter, event, asynchronous);
    if (armed == ERROR_SUCCESS && !m_armed.exchange(true) && m_onArmed)
        m_onArmed();
    return armed;
}

} // namespace Kest

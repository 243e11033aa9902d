#include "Thread/CEventHandle.h"

namespace Halvex {

CEventHandle& CEventHandle::operator=(CEventHandle&& other) noexcept
{
    if (this != &other) {
        reset(other.m_handle);
        other.m_handle = nullptr;
    }
    return *this;
}

void CEventHandle::reset(HANDLE handle)
{
    if (m_handle && m_handle != handle)
        CloseHandle(m_handle);
    m_handle = handle;
}

bool CEventHandle::set() const
{
    return m_handle && SetEvent(m_handle);
}

} // namespace Halvex

#include "GuardedBuffer.h"

#include <windows.h>

#include <cstring>
#include <new>

namespace TestSupport {

GuardedBuffer::GuardedBuffer(const void* data, size_t size) : m_size(size)
{
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t usable = ((size + page - 1) / page) * page;
    m_base = VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (m_base == nullptr)
        throw std::bad_alloc();
    uint8_t* base = static_cast<uint8_t*>(m_base);
    DWORD old = 0;
    VirtualProtect(base + usable, page, PAGE_NOACCESS, &old);
    m_data = base + usable - size;
    if (size > 0)
        std::memcpy(m_data, data, size);
}

GuardedBuffer::~GuardedBuffer()
{
    if (m_base != nullptr)
        VirtualFree(m_base, 0, MEM_RELEASE);
}

} // namespace TestSupport

#include "ETWLogging/CEventPayload.h"

#include <cstring>

namespace ETWLogging {

void CEventPayload::Append(const void* data, size_t size)
{
    if (size == 0)
        return;
    if (m_size + size > m_capacity) {
        const size_t grown = m_capacity + m_capacity / 2;
        const size_t capacity = m_size + size > grown ? m_size + size : grown;
        std::unique_ptr<uint8_t[]> heap(new uint8_t[capacity]);
        std::memcpy(heap.get(), Buffer(), m_size);
        m_heap = std::move(heap);
        m_capacity = capacity;
    }
    std::memcpy(Buffer() + m_size, data, size);
    m_size += size;
}

void CEventPayload::AppendCounted(const wchar_t* text, size_t length)
{
    if (!text)
        length = 0;
    if (length > 0xFFFF)
        length = 0xFFFF;
    const uint16_t count = static_cast<uint16_t>(length);
    Append(&count, sizeof(count));
    Append(text, length * sizeof(wchar_t));
}

} // namespace ETWLogging

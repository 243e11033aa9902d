#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ETWLogging {

// The context block of one trace event: a byte buffer that stays on the
// stack up to 256 bytes and moves to the heap beyond.
class CEventPayload {
public:
    static constexpr size_t kInlineCapacity = 256;

    CEventPayload() = default;
    CEventPayload(const CEventPayload&) = delete;
    CEventPayload& operator=(const CEventPayload&) = delete;

    void AppendU32(uint32_t value) { Append(&value, sizeof(value)); }
    void AppendI32(int32_t value) { Append(&value, sizeof(value)); }
    void AppendU64(uint64_t value) { Append(&value, sizeof(value)); }
    // A 16-bit character count and the UTF-16LE characters, no terminator;
    // null counts as empty and longer texts keep their first 65535 characters.
    void AppendCounted(const wchar_t* text, size_t length);
    void AppendCounted(const std::wstring& text) { AppendCounted(text.c_str(), text.size()); }

    const uint8_t* Data() const { return m_heap ? m_heap.get() : m_inline; }
    size_t Size() const { return m_size; }
    size_t Capacity() const { return m_capacity; }
    bool OnHeap() const { return m_heap != nullptr; }

private:
    void Append(const void* data, size_t size);
    uint8_t* Buffer() { return m_heap ? m_heap.get() : m_inline; }

    uint8_t m_inline[kInlineCapacity];
    std::unique_ptr<uint8_t[]> m_heap;
    size_t m_size = 0;
    size_t m_capacity = kInlineCapacity;
};

} // namespace ETWLogging

#pragma once
#include <cstddef>
#include <cstdint>

namespace TestSupport {

// Bytes placed so that the first byte after them is the start of an
// inaccessible page: code that reads or writes even one byte past the end
// crashes the test instead of passing by luck.
class GuardedBuffer {
public:
    GuardedBuffer(const void* data, size_t size);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    uint8_t* data() const { return m_data; }
    size_t size() const { return m_size; }
    // The same memory seen as wide characters (size() must be even).
    const wchar_t* wide() const { return reinterpret_cast<const wchar_t*>(m_data); }
    size_t wideSize() const { return m_size / sizeof(wchar_t); }

private:
    void* m_base = nullptr;
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

} // namespace TestSupport

#pragma once
#include <windows.h>

namespace Halvex {

// Owns one event handle and closes it when it goes. Null means none.
class CEventHandle {
public:
    CEventHandle() = default;
    explicit CEventHandle(HANDLE handle) : m_handle(handle) {}
    ~CEventHandle() { reset(); }

    CEventHandle(CEventHandle&& other) noexcept : m_handle(other.m_handle) { other.m_handle = nullptr; }
    CEventHandle& operator=(CEventHandle&& other) noexcept;
    CEventHandle(const CEventHandle&) = delete;
    CEventHandle& operator=(const CEventHandle&) = delete;

    HANDLE get() const { return m_handle; }
    explicit operator bool() const { return m_handle != nullptr; }

    // Closes the handle held and takes `handle` in its place.
    void reset(HANDLE handle = nullptr);
    // Signals the event; false when there is none or SetEvent fails.
    bool set() const;

private:
    HANDLE m_handle = nullptr;
};

} // namespace Halvex

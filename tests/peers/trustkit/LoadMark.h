#pragma once
// The mark a double leaves when one of its copies is mapped, so that a test
// sees whether the double's code ran at all: the event
// "Local\<stem>-<process id>", set from DllMain when the process made it.
#include <windows.h>

#include <cwchar>
#include <string>

namespace LoadMark {

inline std::wstring eventName(const wchar_t* stem)
{
    wchar_t name[96];
    swprintf(name, 96, L"Local\\%ls-%lu", stem, GetCurrentProcessId());
    return name;
}

// From a double's DllMain: kernel32 only.
inline void leave(const wchar_t* stem)
{
    HANDLE mark = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName(stem).c_str());
    if (mark) {
        SetEvent(mark);
        CloseHandle(mark);
    }
}

// The test's side: the event made, not set, for as long as the object lives.
class Watch {
public:
    explicit Watch(const wchar_t* stem) : m_event(CreateEventW(nullptr, TRUE, FALSE, eventName(stem).c_str()))
    {
        if (m_event)
            ResetEvent(m_event);
    }
    ~Watch()
    {
        if (m_event)
            CloseHandle(m_event);
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;

    bool ready() const { return m_event != nullptr; }
    bool seen() const { return m_event && WaitForSingleObject(m_event, 0) == WAIT_OBJECT_0; }

private:
    HANDLE m_event;
};

} // namespace LoadMark

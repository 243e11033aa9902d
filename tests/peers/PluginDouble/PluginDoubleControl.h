#pragma once
// The test's side of the plugin double: its switches (this process's
// environment, read by the double on every call), copies of the library
// installed where a test needs them, and the journal of what it was called
// with. One object per test; it resets every switch when made and when it goes.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace PluginDouble {

struct Entry {
    std::wstring file;    // the file name of the copy that was called
    std::wstring call;    // "CreateObject", "ProcessAlert", "ProcessAlert.end", ...
    std::wstring details; // the call's arguments or outcome, '|'-separated
};

class Control {
public:
    Control();
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // Copies the signed (or unsigned) double to `folder` + "\" + `name`; returns the full path.
    static std::wstring install(const std::wstring& folder, const std::wstring& name, bool signedCopy = true);

    void refuseCreateObject();                       // CreateObject answers null
    void tableWithHole();                            // its table lacks an entry
    void createInstanceStatus(uint32_t status);
    void destroyInstanceStatus(uint32_t status);
    void processStatus(uint32_t status);
    void contentStatus(uint32_t status);
    void suppress(bool on);
    void rewriteJson(const std::wstring& json);      // ProcessAlert's output JSON
    void extra(const std::wstring& text);
    void content(const std::wstring& pattern);       // "{viewer}" stands for the viewer
    void nullOutputs(bool on);
    // What an entry throws instead of answering.
    enum class Throw { Standard, NonStandard };
    // `entry` as the table (or the library's exports) name it; an empty one throws from none.
    void throwFrom(const std::wstring& entry, Throw what = Throw::Standard);
    // The same once CreatePluginInstance, ProcessAlert or GetAlertContent has
    // written its outputs (the instance, the texts).
    void throwAfterHandingOut(const std::wstring& entry, Throw what = Throw::Standard);

    // Makes ProcessAlert and GetAlertContent stop inside the plugin until
    // release(); waitEntered() tells when a call got there.
    void hold();
    bool waitEntered(std::chrono::milliseconds timeout);
    void release();

    std::vector<Entry> journal() const;
    // The entries of one call, in order.
    std::vector<Entry> calls(const std::wstring& call) const;
    // The calls in order, "<call>" each, for entries whose call is one of `names` (all when empty).
    std::vector<std::wstring> sequence(const std::vector<std::wstring>& names = {}) const;

private:
    std::wstring m_journal;
    HANDLE m_entered = nullptr;
    HANDLE m_release = nullptr;
};

} // namespace PluginDouble

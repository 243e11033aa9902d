#include "PluginDoubleControl.h"

#include "ScratchFolder.h"
#include "TestNames.h"

#include <sstream>

namespace PluginDouble {

namespace {

const wchar_t* const kSwitches[] = {
    L"PLUGIN_DOUBLE_CREATE_OBJECT",  L"PLUGIN_DOUBLE_CREATE_STATUS", L"PLUGIN_DOUBLE_DESTROY_STATUS",
    L"PLUGIN_DOUBLE_PROCESS_STATUS", L"PLUGIN_DOUBLE_SUPPRESS",      L"PLUGIN_DOUBLE_JSON",
    L"PLUGIN_DOUBLE_EXTRA",          L"PLUGIN_DOUBLE_CONTENT_STATUS", L"PLUGIN_DOUBLE_CONTENT",
    L"PLUGIN_DOUBLE_NULL_OUTPUTS",   L"PLUGIN_DOUBLE_ENTERED",       L"PLUGIN_DOUBLE_RELEASE",
    L"PLUGIN_DOUBLE_JOURNAL",        L"PLUGIN_DOUBLE_THROW_FROM",    L"PLUGIN_DOUBLE_THROW",
    L"PLUGIN_DOUBLE_THROW_AFTER",
};

void setSwitch(const wchar_t* name, const std::wstring& value)
{
    SetEnvironmentVariableW(name, value.c_str());
}

void setStatus(const wchar_t* name, uint32_t status)
{
    setSwitch(name, std::to_wstring(status));
}

// The build hands over host paths; Wine shows the host's root as drive Z:.
std::wstring winePath(const char* hostPath)
{
    std::wstring path = L"Z:" + TestSupport::widen(hostPath);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

std::wstring tempFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    return std::wstring(buffer, length <= MAX_PATH ? length : 0);
}

} // namespace

Control::Control() : m_journal(tempFolder() + TestSupport::uniqueName(L"plugin") + L".journal")
{
    for (const wchar_t* name : kSwitches)
        SetEnvironmentVariableW(name, nullptr);
    DeleteFileW(m_journal.c_str());
    setSwitch(L"PLUGIN_DOUBLE_JOURNAL", m_journal);
}

Control::~Control()
{
    // A call still held inside the plugin must not wait for a closed event.
    release();
    for (const wchar_t* name : kSwitches)
        SetEnvironmentVariableW(name, nullptr);
    DeleteFileW(m_journal.c_str());
    if (m_entered)
        CloseHandle(m_entered);
    if (m_release)
        CloseHandle(m_release);
}

std::wstring Control::install(const std::wstring& folder, const std::wstring& name, bool signedCopy)
{
    const std::wstring to = folder + L"\\" + name;
    const std::wstring from = winePath(signedCopy ? PLUGIN_DOUBLE_SIGNED_PATH : PLUGIN_DOUBLE_UNSIGNED_PATH);
    CopyFileW(from.c_str(), to.c_str(), FALSE);
    return to;
}

void Control::refuseCreateObject()
{
    setSwitch(L"PLUGIN_DOUBLE_CREATE_OBJECT", L"null");
}

void Control::tableWithHole()
{
    setSwitch(L"PLUGIN_DOUBLE_CREATE_OBJECT", L"hole");
}

void Control::createInstanceStatus(uint32_t status)
{
    setStatus(L"PLUGIN_DOUBLE_CREATE_STATUS", status);
}

void Control::destroyInstanceStatus(uint32_t status)
{
    setStatus(L"PLUGIN_DOUBLE_DESTROY_STATUS", status);
}

void Control::processStatus(uint32_t status)
{
    setStatus(L"PLUGIN_DOUBLE_PROCESS_STATUS", status);
}

void Control::contentStatus(uint32_t status)
{
    setStatus(L"PLUGIN_DOUBLE_CONTENT_STATUS", status);
}

void Control::suppress(bool on)
{
    setSwitch(L"PLUGIN_DOUBLE_SUPPRESS", on ? L"1" : L"0");
}

void Control::rewriteJson(const std::wstring& json)
{
    setSwitch(L"PLUGIN_DOUBLE_JSON", json);
}

void Control::extra(const std::wstring& text)
{
    setSwitch(L"PLUGIN_DOUBLE_EXTRA", text);
}

void Control::content(const std::wstring& pattern)
{
    setSwitch(L"PLUGIN_DOUBLE_CONTENT", pattern);
}

void Control::nullOutputs(bool on)
{
    setSwitch(L"PLUGIN_DOUBLE_NULL_OUTPUTS", on ? L"1" : L"0");
}

void Control::throwFrom(const std::wstring& entry, Throw what)
{
    setSwitch(L"PLUGIN_DOUBLE_THROW_FROM", entry);
    setSwitch(L"PLUGIN_DOUBLE_THROW", what == Throw::Standard ? L"std" : L"int");
    setSwitch(L"PLUGIN_DOUBLE_THROW_AFTER", L"0");
}

void Control::throwAfterHandingOut(const std::wstring& entry, Throw what)
{
    throwFrom(entry, what);
    setSwitch(L"PLUGIN_DOUBLE_THROW_AFTER", L"1");
}

void Control::hold()
{
    const std::wstring entered = TestSupport::uniqueName(L"PluginEntered");
    const std::wstring release = TestSupport::uniqueName(L"PluginRelease");
    m_entered = CreateEventW(nullptr, FALSE, FALSE, entered.c_str());
    m_release = CreateEventW(nullptr, TRUE, FALSE, release.c_str());
    setSwitch(L"PLUGIN_DOUBLE_ENTERED", entered);
    setSwitch(L"PLUGIN_DOUBLE_RELEASE", release);
}

bool Control::waitEntered(std::chrono::milliseconds timeout)
{
    return m_entered && WaitForSingleObject(m_entered, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}

void Control::release()
{
    if (m_release)
        SetEvent(m_release);
}

std::vector<Entry> Control::journal() const
{
    std::vector<Entry> entries;
    std::wistringstream lines(TestSupport::widen(TestSupport::ScratchFolder::read(m_journal)));
    std::wstring line;
    while (std::getline(lines, line)) {
        Entry entry;
        const size_t first = line.find(L'|');
        const size_t second = first == std::wstring::npos ? first : line.find(L'|', first + 1);
        if (second == std::wstring::npos)
            continue;
        entry.file = line.substr(0, first);
        entry.call = line.substr(first + 1, second - first - 1);
        entry.details = line.substr(second + 1);
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::vector<Entry> Control::calls(const std::wstring& call) const
{
    std::vector<Entry> matching;
    for (Entry& entry : journal())
        if (entry.call == call)
            matching.push_back(std::move(entry));
    return matching;
}

std::vector<std::wstring> Control::sequence(const std::vector<std::wstring>& names) const
{
    std::vector<std::wstring> calls;
    for (const Entry& entry : journal()) {
        bool wanted = names.empty();
        for (const std::wstring& name : names)
            wanted = wanted || entry.call == name;
        if (wanted)
            calls.push_back(entry.call);
    }
    return calls;
}

} // namespace PluginDouble

#include "TestModuleBehaviour.h"

#include <windows.h>

#include <cstdio>
#include <new>
#include <stdexcept>
#include <vector>

namespace TestModule {

namespace {

std::wstring environment(const wchar_t* name)
{
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size())
        return std::wstring();
    return std::wstring(buffer.data(), length);
}

} // namespace

Behaviour Behaviour::fromEnvironment()
{
    return Behaviour(environment(L"TESTMODULE_BEHAVIOUR"));
}

Behaviour::Behaviour(const std::wstring& directives)
{
    size_t begin = 0;
    while (begin <= directives.size()) {
        size_t end = directives.find(L';', begin);
        if (end == std::wstring::npos)
            end = directives.size();
        const std::wstring item = directives.substr(begin, end - begin);
        if (!item.empty()) {
            const size_t equals = item.find(L'=');
            if (equals == std::wstring::npos)
                m_directives[item] = L"";
            else
                m_directives[item.substr(0, equals)] = item.substr(equals + 1);
        }
        begin = end + 1;
    }
}

std::wstring Behaviour::value(const std::wstring& key) const
{
    const auto found = m_directives.find(key);
    return found == m_directives.end() ? std::wstring() : found->second;
}

uint32_t Behaviour::act(const std::wstring& call, uint32_t status) const
{
    if (m_directives.count(L"hang:" + call)) {
        HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        WaitForSingleObject(never, INFINITE);
    }
    const std::wstring thrown = value(L"throw:" + call);
    if (thrown == L"std")
        throw std::runtime_error("test module failure");
    if (thrown == L"int")
        throw 42;
    if (thrown == L"bad_alloc")
        throw std::bad_alloc();
    const std::wstring replaced = value(L"status:" + call);
    if (!replaced.empty())
        return static_cast<uint32_t>(wcstoul(replaced.c_str(), nullptr, 16));
    return status;
}

bool Behaviour::createsNothing() const
{
    return value(L"create") == L"null";
}

uint32_t Behaviour::createFailure() const
{
    const std::wstring failure = value(L"create");
    if (failure.empty() || failure == L"null")
        return 0;
    return static_cast<uint32_t>(wcstoul(failure.c_str(), nullptr, 16));
}

void journal(const std::wstring& line)
{
    const std::wstring path = environment(L"TESTMODULE_JOURNAL");
    if (path.empty())
        return;
    FILE* file = _wfopen(path.c_str(), L"ab");
    if (!file)
        return;
    const std::wstring text = line + L"\n";
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string narrow(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &narrow[0], bytes, nullptr,
                        nullptr);
    fwrite(narrow.data(), 1, narrow.size(), file);
    fclose(file);
}

} // namespace TestModule

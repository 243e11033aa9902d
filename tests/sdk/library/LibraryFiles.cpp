#include "LibraryFiles.h"

#include "SignedLibraryTrust.h"
#include "TestNames.h"

#include "Registry/CObfuscatedRegKey.h"
#include "dll/SharedLibrary.h"

#include <windows.h>

#include <cwctype>

namespace LibraryTests {

std::wstring LibraryFolder::install(const std::wstring& kitName, const std::wstring& as) const
{
    const std::wstring to = m_folder.file(as);
    CopyFileW(TrustKit::kitPath(kitName).c_str(), to.c_str(), FALSE);
    return to;
}

namespace {

std::wstring lowerCased(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

} // namespace

BlockList::BlockList(const std::wstring& name, const std::vector<std::pair<std::wstring, std::wstring>>& values)
    : m_key(Ostrand::SharedLibrary::blockListKey(lowerCased(name)))
{
    Halvex::CObfuscatedRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, m_key.c_str()) != ERROR_SUCCESS)
        return;
    for (const auto& value : values)
        key.SetStringValue(value.first.c_str(), value.second.c_str());
}

BlockList::~BlockList()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, m_key.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_key.c_str());
}

bool PretendLoader::loadDLL(const std::wstring&, HMODULE* handle)
{
    *handle = reinterpret_cast<HMODULE>(0x4000);
    return true;
}

FARPROC PretendLoader::getProcAddress(HMODULE, const char*)
{
    return ::GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetTickCount");
}

bool PretendLoader::freeDLL(HMODULE module)
{
    freed.push_back(module);
    return freeAnswer;
}

std::wstring uniqueLibraryName(const std::wstring& stem)
{
    return lowerCased(TestSupport::uniqueName(stem) + L".dll");
}

} // namespace LibraryTests

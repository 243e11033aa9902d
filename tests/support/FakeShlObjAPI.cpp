#include "FakeShlObjAPI.h"

#include <objbase.h>

#include <cwchar>

namespace TestSupport {

namespace {

PWSTR copyForCaller(const std::wstring& text)
{
    auto* copy = static_cast<PWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy)
        wmemcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

} // namespace

std::wstring FakeShlObjAPI::key(REFKNOWNFOLDERID folder)
{
    wchar_t text[64] = {};
    StringFromGUID2(folder, text, 64);
    return text;
}

HRESULT FakeShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID folder, DWORD, HANDLE, PWSTR* path)
{
    ++calls;
    *path = nullptr;
    const auto found = m_paths.find(key(folder));
    if (found == m_paths.end()) {
        if (bufferOnFailure)
            *path = copyForCaller(L"");
        return failure;
    }
    *path = copyForCaller(found->second);
    return S_OK;
}

} // namespace TestSupport

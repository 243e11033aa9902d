#include "ScratchFolder.h"
#include "TestNames.h"

#include <windows.h>
#include <shellapi.h>
#include <fstream>
#include <sstream>
#include <vector>

namespace TestSupport {

namespace {

void removeTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring full = path + L"\\" + name;
            SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                removeTree(full);
            else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(full.c_str());
            else
                DeleteFileW(full.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

} // namespace

ScratchFolder::ScratchFolder() : ScratchFolder(L"scratch") {}

ScratchFolder::ScratchFolder(const std::wstring& stem)
{
    wchar_t temp[MAX_PATH + 1] = {};
    DWORD length = GetTempPathW(MAX_PATH, temp);
    std::wstring base = (length > 0 && length <= MAX_PATH) ? std::wstring(temp, length) : L"C:\\windows\\temp\\";
    if (base.back() != L'\\')
        base += L'\\';
    m_path = base + uniqueName(stem);
    removeTree(m_path);
    CreateDirectoryW(m_path.c_str(), nullptr);
}

ScratchFolder::~ScratchFolder()
{
    removeTree(m_path);
}

std::wstring ScratchFolder::file(const std::wstring& relative) const
{
    return m_path + L"\\" + relative;
}

std::wstring ScratchFolder::write(const std::wstring& relative, const std::string& bytes) const
{
    std::wstring full = file(relative);
    HANDLE h = CreateFileW(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
    }
    return full;
}

std::string ScratchFolder::read(const std::wstring& path)
{
    std::string out;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0)
        out.append(buffer, got);
    CloseHandle(h);
    return out;
}

} // namespace TestSupport

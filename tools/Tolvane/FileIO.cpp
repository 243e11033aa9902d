#include "FileIO.h"

#include <windows.h>

#include <io.h>

namespace Ostrand {

namespace {

// Closes the file and keeps the result, for an owner that needs to know.
struct Closer {
    std::shared_ptr<int> result = std::make_shared<int>(0);
    void operator()(FILE* file) const { *result = fclose(file); }
};

std::shared_ptr<FILE> adopt(FILE* file)
{
    if (!file)
        return {};
    return std::shared_ptr<FILE>(file, Closer());
}

} // namespace

std::shared_ptr<FILE> FileIO::open(const std::string& path, const std::string& mode)
{
    FILE* file = nullptr;
    if (fopen_s(&file, path.c_str(), mode.c_str()) != 0)
        return {};
    return adopt(file);
}

std::shared_ptr<FILE> FileIO::open(const std::wstring& path, const std::wstring& mode)
{
    FILE* file = nullptr;
    if (_wfopen_s(&file, path.c_str(), mode.c_str()) != 0)
        return {};
    return adopt(file);
}

bool FileIO::exists(const std::wstring& path)
{
    // Opening for reading with full sharing is the test: a folder, or a file
    // this account may not read, is as good as absent to the registrar. A
    // file that somebody holds without sharing is there all the same: it is
    // only busy for now.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    }
    CloseHandle(file);
    return true;
}

bool FileIO::commit(std::shared_ptr<FILE> file)
{
    if (!file)
        return false;
    const Closer* closer = std::get_deleter<Closer>(file);
    if (!closer || file.use_count() != 1)
        return false;
    const std::shared_ptr<int> closed = closer->result;
    bool onDisk = fflush(file.get()) == 0;
    if (onDisk) {
        const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file.get())));
        onDisk = handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle);
    }
    file.reset();
    return onDisk && *closed == 0;
}

bool FileIO::replace(const std::wstring& from, const std::wstring& to)
{
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool FileIO::remove(const std::wstring& path) { return DeleteFileW(path.c_str()) != 0; }

} // namespace Ostrand

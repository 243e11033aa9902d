#pragma once
#include <cstdio>
#include <memory>
#include <string>

namespace Ostrand {

// File access of the registrar, replaceable in tests. An open file is handed
// out as a shared pointer whose deleter closes it: the file stays open exactly
// as long as someone holds the pointer.
class IFileIO {
public:
    virtual ~IFileIO() = default;

    // Empty pointer when the file cannot be opened with that mode.
    virtual std::shared_ptr<FILE> open(const std::string& path, const std::string& mode) = 0;
    virtual std::shared_ptr<FILE> open(const std::wstring& path, const std::wstring& mode) = 0;
    // True when the path can be opened for reading, or names a file that
    // someone else holds without sharing; a folder counts as absent.
    virtual bool exists(const std::wstring& path) = 0;
    // Hands what was written to the disk and closes the file; the caller gives
    // its pointer up. False when the data may not have reached the disk, the
    // close failed, or someone else still holds the file (it is not closed).
    virtual bool commit(std::shared_ptr<FILE> file) = 0;
    // Puts `from` in the place of `to` in one step, so that `to` is always
    // either its old or its new whole content.
    virtual bool replace(const std::wstring& from, const std::wstring& to) = 0;
    virtual bool remove(const std::wstring& path) = 0;
};

} // namespace Ostrand

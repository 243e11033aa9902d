#pragma once
#include "IFileIO.h"

namespace Ostrand {

class FileIO : public IFileIO {
public:
    std::shared_ptr<FILE> open(const std::string& path, const std::string& mode) override;
    std::shared_ptr<FILE> open(const std::wstring& path, const std::wstring& mode) override;
    bool exists(const std::wstring& path) override;
    bool commit(std::shared_ptr<FILE> file) override;
    bool replace(const std::wstring& from, const std::wstring& to) override;
    bool remove(const std::wstring& path) override;
};

} // namespace Ostrand

#pragma once
#include "IFileIO.h"
#include "JSONParser.h"
#include "ReferenceProvider.h"

#include <memory>

namespace Ostrand {

// The codes as a UTF-16LE JSON file: {"registry":[{"appcode":"A"},...]} in
// ascending ordinal order, or {} when there is none.
class JSONReferenceProvider : public ReferenceProvider {
public:
    // Empty document or file access: the defaults. An empty path stands for
    // "appregistry.json" in the current folder.
    JSONReferenceProvider(std::shared_ptr<JSONParser> document, std::shared_ptr<IFileIO> fileIO,
                          std::wstring path);
    ~JSONReferenceProvider() override;

    // An empty document loads no codes; otherwise every element of
    // "registry" must be an object with a string "appcode".
    bool load(std::set<std::wstring>& codes) override;
    // Rewrites the whole file: written beside it and then put in its place,
    // so that a failed write leaves the old file whole.
    bool save(const std::set<std::wstring>& codes) override;
    bool wasBusy() const override;

protected:
    // A missing file is an empty list; a file that is there must open and
    // parse. One that is there but cannot be opened or read through is busy.
    bool doInitialize() override;
    bool doUninitialize() override;

private:
    std::shared_ptr<JSONParser> m_document;
    std::shared_ptr<IFileIO> m_fileIO;
    std::wstring m_path;
    bool m_busy = false;
};

} // namespace Ostrand

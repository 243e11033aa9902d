#pragma once
#include "IFileIO.h"
#include "JSONParser.h"
#include "ReferenceManager.h"
#include "ReferenceProvider.h"

#include <functional>
#include <memory>
#include <string>

namespace Ostrand {

// Records and removes the application codes that depend on the component,
// and has the component uninstalled when none is left.
class CollectiveRegistrar {
public:
    // Called with the registry file's path; true when the uninstall ran.
    using UninstallCallback = std::function<bool(const wchar_t* registryFile)>;

    // Every empty collaborator gets its default: the file access, a document,
    // a JSON provider over those two and the path, a manager over the provider.
    CollectiveRegistrar(std::wstring registryFile, UninstallCallback uninstall, std::shared_ptr<IFileIO> fileIO = {},
                        std::shared_ptr<JSONParser> document = {}, std::shared_ptr<ReferenceProvider> provider = {},
                        std::shared_ptr<ReferenceManager> manager = {});

    // Runs one command line: exactly one switch, "-register=<code>" or
    // "-unregister=<code>". True when the command succeeded.
    bool execute(int argc, const wchar_t* const* argv);

private:
    bool registerCode(const std::wstring& code);
    bool unregisterCode(const std::wstring& code, bool referencesUsable);
    bool uninstall() const;

    std::wstring m_registryFile;
    UninstallCallback m_uninstall;
    std::shared_ptr<IFileIO> m_fileIO;
    std::shared_ptr<JSONParser> m_document;
    std::shared_ptr<ReferenceProvider> m_provider;
    std::shared_ptr<ReferenceManager> m_manager;
};

} // namespace Ostrand

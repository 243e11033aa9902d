#pragma once
#include "OSInfo/OSInfoProxy.h"
#include "wrappers/RegistryAPI.h"
#include "wrappers/ShlObjAPI.h"

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace Ostrand {

// Expands the placeholders of a path template ("$(App.Folder)",
// "$(Strova.InstallDir)", "$(FOLDERID_...)", "$(OS.Platform)") in one
// left-to-right pass; a replacement is never scanned again. A token that is
// unknown, or whose value cannot be had, stays exactly as written. Any thread
// may expand at any time: an instance holds no state that changes.
class PathHelpers {
public:
    class _Impl;

    // Empty pointers are replaced by the system's shell wrapper, OS
    // information and registry reader.
    explicit PathHelpers(std::shared_ptr<ShlObjAPI> shell = {},
                         std::shared_ptr<Halvex::internal::OSInfoProxy> osInfo = {},
                         std::shared_ptr<RegistryAPI> registry = {});
    virtual ~PathHelpers();

    // Always true: nothing here fails.
    virtual bool expand(std::wstring& path);

private:
    using Placeholders = std::unordered_map<std::wstring, std::function<std::wstring(const _Impl&)>>;
    static const Placeholders s_placeholders;

    std::shared_ptr<_Impl> m_impl;
};

} // namespace Ostrand

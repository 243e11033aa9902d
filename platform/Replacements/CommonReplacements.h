#pragma once
#include "OSInfo/OSInfoProxy.h"
#include "System/ShlObjAPI.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

namespace Halvex {

struct ExpansionCounts {
    uint64_t matched = 0;  // placeholders found
    uint64_t resolved = 0; // of those, replaced by a value
};

// Expands "$(" name ")" placeholders in a text: the host program's path,
// known folders, the platform, and names the caller supplies per call, which
// are looked up first. A placeholder without a value stays as written.
//
// One instance expands on one thread at a time (the counters are its own);
// several instances may expand at once.
class CommonReplacements {
public:
    // Complete token text ("$(" and ")" included) to its value.
    using ExtraTable = std::unordered_map<std::wstring, std::function<std::wstring()>>;

    // Empty collaborators stand for the real shell and OS information.
    explicit CommonReplacements(std::shared_ptr<ShlObjAPI> shell = nullptr,
                                std::shared_ptr<internal::OSInfoProxy> osInfo = nullptr);
    virtual ~CommonReplacements();

    // Expands in place in a single left-to-right pass (a value is never
    // scanned again). Always true; should memory run out, the exception
    // leaves the text as it was.
    virtual bool expandWith(std::wstring& text, const ExtraTable& extra);
    virtual bool expand(std::wstring& text);
    // The counters of the last expansion.
    virtual ExpansionCounts getExpansionCounts() const;

    class _Impl;

private:
    using Table = std::unordered_map<std::wstring, std::function<std::wstring(const _Impl&)>>;
    static const Table s_placeholders;

    std::shared_ptr<_Impl> m_impl;
};

} // namespace Halvex

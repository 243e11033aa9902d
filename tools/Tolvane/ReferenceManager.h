#pragma once
#include "ReferenceProvider.h"

#include <cstddef>
#include <memory>
#include <set>
#include <string>

namespace Ostrand {

// The application codes in memory, in ascending ordinal order, each at most
// once. Changes stay in memory until save.
class ReferenceManager {
public:
    // An empty provider: the base one, which stores nothing.
    explicit ReferenceManager(std::shared_ptr<ReferenceProvider> provider);
    virtual ~ReferenceManager();

    // True only when the code was not there yet.
    virtual bool add(const std::wstring& code);
    // True only when the code was there.
    virtual bool remove(const std::wstring& code);
    virtual bool contains(const std::wstring& code) const;
    // The provider's codes join the set; the count follows the set either way.
    virtual bool load();
    virtual bool save();
    virtual size_t count() const;

private:
    std::set<std::wstring> m_codes;
    std::shared_ptr<ReferenceProvider> m_provider;
    size_t m_count = 0;
};

} // namespace Ostrand

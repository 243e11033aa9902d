#include "ReferenceManager.h"

#include <utility>

namespace Ostrand {

ReferenceManager::ReferenceManager(std::shared_ptr<ReferenceProvider> provider)
    : m_provider(provider ? std::move(provider) : std::make_shared<ReferenceProvider>())
{
}

ReferenceManager::~ReferenceManager() = default;

bool ReferenceManager::add(const std::wstring& code)
{
    if (!m_codes.insert(code).second)
        return false;
    ++m_count;
    return true;
}

bool ReferenceManager::remove(const std::wstring& code)
{
    if (m_codes.erase(code) == 0)
        return false;
    --m_count;
    return true;
}

bool ReferenceManager::contains(const std::wstring& code) const { return m_codes.count(code) != 0; }

bool ReferenceManager::load()
{
    const bool loaded = m_provider->load(m_codes);
    m_count = m_codes.size();
    return loaded;
}

bool ReferenceManager::save() { return m_provider->save(m_codes); }

size_t ReferenceManager::count() const { return m_count; }

} // namespace Ostrand

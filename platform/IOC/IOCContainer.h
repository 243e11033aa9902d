#pragma once
#include "IOC/IOCFactoryInterface.h"
#include "IOC/IOCInstanceReturningFactory.h"

#include <map>
#include <memory>
#include <string>
#include <typeindex>

namespace Halvex {

// The name a registration gets when the caller has none of its own.
inline constexpr const wchar_t IOCDefaultRegistrationName[] = L"Unnamed registration";

// Shared objects registered by type and name, for code that asks for its
// collaborators by type. Filled while a module initialises; not locked.
class IOCContainer {
public:
    virtual ~IOCContainer() = default;

    // Replaces a registration of the same type and name.
    template <typename T>
    void RegisterInstance(const std::wstring& name, std::shared_ptr<T> instance)
    {
        if (IsRegistered<T>(name))
            Unregister<T>(name);
        m_registrations[std::type_index(typeid(T))][name] =
            std::make_shared<IOCInstanceReturningFactory<T>>(name, std::move(instance));
    }

    template <typename T>
    bool IsRegistered(const std::wstring& name) const
    {
        return GetFactory<T>(name) != nullptr;
    }

    template <typename T>
    void Unregister(const std::wstring& name)
    {
        const auto type = m_registrations.find(std::type_index(typeid(T)));
        if (type != m_registrations.end())
            type->second.erase(name);
    }

    // Empty when nothing is registered under (T, name). The instance comes
    // from the factory: GetUntypedInstance, or GetInstance after a cast to
    // IOCBaseFactory<T>.
    template <typename T>
    std::shared_ptr<IOCFactoryInterface> GetFactory(const std::wstring& name) const
    {
        const auto type = m_registrations.find(std::type_index(typeid(T)));
        if (type == m_registrations.end())
            return nullptr;
        const auto found = type->second.find(name);
        return found == type->second.end() ? nullptr : found->second;
    }

private:
    // Keyed by the type itself rather than its hash code, so that two types
    // whose hash codes collide never share or replace each other's entries.
    std::map<std::type_index, std::map<std::wstring, std::shared_ptr<IOCFactoryInterface>>> m_registrations;
};

} // namespace Halvex

#pragma once
#include "IOC/IOCFactoryInterface.h"

#include <utility>

namespace Halvex {

// A registration of type T; derived factories say how the instance is made.
template <typename T>
class IOCBaseFactory : public IOCFactoryInterface {
public:
    explicit IOCBaseFactory(std::wstring name) : m_name(std::move(name)) {}

    const std::type_info& GetTypeInfo() const override { return typeid(T); }
    const std::wstring& GetName() const override { return m_name; }
    std::shared_ptr<void> GetUntypedInstance() override { return GetInstance(); }

    virtual std::shared_ptr<T> GetInstance() = 0;

private:
    std::wstring m_name;
};

} // namespace Halvex

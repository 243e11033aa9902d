#pragma once
#include "IOC/IOCBaseFactory.h"

namespace Halvex {

// A registration that hands out the one instance it was given, which it keeps
// alive for as long as it is registered.
template <typename T>
class IOCInstanceReturningFactory : public IOCBaseFactory<T> {
public:
    IOCInstanceReturningFactory(std::wstring name, std::shared_ptr<T> instance)
        : IOCBaseFactory<T>(std::move(name)), m_instance(std::move(instance))
    {
    }

    std::shared_ptr<T> GetInstance() override { return m_instance; }

private:
    std::shared_ptr<T> m_instance;
};

} // namespace Halvex

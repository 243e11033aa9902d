#pragma once
#include <memory>
#include <string>
#include <typeinfo>

namespace Halvex {

// One registration of a dependency-injection container: what type it holds,
// under which name, and the instance without its type.
class IOCFactoryInterface {
public:
    virtual ~IOCFactoryInterface() = default;
    virtual const std::type_info& GetTypeInfo() const = 0;
    virtual const std::wstring& GetName() const = 0;
    virtual std::shared_ptr<void> GetUntypedInstance() = 0;
};

} // namespace Halvex

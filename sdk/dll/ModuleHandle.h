#pragma once
#include "dll/Module.h"

#include <functional>

namespace Ostrand {
namespace internal {

// The handle the host holds for one module object. It owns the module through
// the deleter, which hands it back to the product's destroyModule.
class ModuleHandle {
public:
    using Deleter = std::function<void(Module*)>;

    // Starts without a module; adopt() gives it one.
    ModuleHandle();
    ~ModuleHandle();
    ModuleHandle(const ModuleHandle&) = delete;
    ModuleHandle& operator=(const ModuleHandle&) = delete;

    void adopt(Module* module) { m_module = module; }
    Module* module() const { return m_module; }

    // Hands the module to the deleter; the handle holds none afterwards, also
    // when the deleter throws.
    void destroyModule();

private:
    Deleter m_deleter;
    Module* m_module = nullptr;
};

} // namespace internal
} // namespace Ostrand

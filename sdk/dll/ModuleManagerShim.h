#pragma once
#include "ModuleFunctions.h"

namespace Ostrand {
namespace internal {

// The host's module-manager connection: its context and callback, kept for
// the module's life.
class ModuleManagerShim {
public:
    ModuleManagerShim(void* context, ModuleManagerCallback callback);
    virtual ~ModuleManagerShim() = default;

    // Calls the host with (context, first, 0, third); the second argument is
    // not passed on. MODULE_STATUS_INVALID_STATE when the host gave no callback.
    virtual MODULE_STATUS callHost(void* first, void* second, void* third);

private:
    void* m_context;
    ModuleManagerCallback m_callback;
};

} // namespace internal
} // namespace Ostrand

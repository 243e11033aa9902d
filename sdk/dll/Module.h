#pragma once
#include "ModuleStatus.h"

namespace Ostrand {

// What the module table drives: one hosted module object. The host calls
// initialize, start, stop and uninitialize in that order; the object keeps its
// own state and answers each with a status.
class Module {
public:
    virtual ~Module() = default;
    virtual MODULE_STATUS initialize() = 0;
    virtual MODULE_STATUS start() = 0;
    virtual MODULE_STATUS stop() = 0;
    virtual MODULE_STATUS uninitialize() = 0;
};

// Defined by the product module, once per module library. createModule stores
// a new module object and returns 0, or returns a failure and stores nothing;
// destroyModule deletes an object createModule made.
MODULE_STATUS createModule(Module** module);
void destroyModule(Module* module);

} // namespace Ostrand

#pragma once
#include "System/ShlObjAPI.h"

namespace Ostrand {

// The SDK's seam over the shell's known-folder lookup: the platform library's
// pass-through under the SDK's name, so that the platform's helpers (which
// free the returned buffer in every case) serve both.
class ShlObjAPI : public Halvex::ShlObjAPI {
public:
    ~ShlObjAPI() override;
};

} // namespace Ostrand

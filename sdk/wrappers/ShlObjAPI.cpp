#include "wrappers/ShlObjAPI.h"

namespace Ostrand {

ShlObjAPI::~ShlObjAPI() = default;

} // namespace Ostrand

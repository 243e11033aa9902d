#include "Registry/CRegKeyImpl.h"

namespace Halvex {
namespace internal {

LONG CRegKeyImpl::GrantEveryoneFullAccess(bool)
{
    return ERROR_CALL_NOT_IMPLEMENTED;
}

} // namespace internal
} // namespace Halvex

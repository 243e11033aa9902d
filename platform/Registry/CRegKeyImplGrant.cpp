#include "Registry/CRegKeyImpl.h"
#include "Registry/GrantEveryoneFullAccess.h"
#include "Registry/SecurityAPI.h"

namespace Halvex {
namespace internal {

LONG CRegKeyImpl::GrantEveryoneFullAccess(bool recurse)
{
    if (!m_handle)
        return ERROR_INVALID_PARAMETER;
    SecurityAPI api;
    return internal::GrantEveryoneFullAccess(m_handle, recurse, api);
}

} // namespace internal
} // namespace Halvex

#include "OSInfo/OSInfoProxy.h"

namespace Halvex {
namespace internal {

template class OSInfoProxyT<WinOSVersionAPI>;

} // namespace internal
} // namespace Halvex

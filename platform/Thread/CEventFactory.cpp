#include "Thread/CEventFactory.h"

namespace Halvex {

CEventHandle CEventFactory::CreateAutoResetEvent()
{
    return CEventHandle(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

} // namespace Halvex

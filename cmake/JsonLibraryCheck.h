// Taken into every translation unit that includes the JSON library (see
// ProjectOptions.cmake), ahead of the library's own headers.
//
// The library checks its callers' and its own assumptions with an assertion
// macro that would end the process; a damaged file or a caller's slip must
// never do that. Each such check throws instead, and the code that calls the
// library answers it as the failure of that one operation.
#pragma once

#ifdef __cplusplus
#include <stdexcept>

namespace Ostrand {

class JSONLibraryError : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

} // namespace Ostrand

#define RAPIDJSON_ASSERT(condition) \
    ((condition) ? static_cast<void>(0) : throw ::Ostrand::JSONLibraryError("JSON library check: " #condition))
#endif

#pragma once
#include <cctype>
#include <string>

namespace TolvaneTests {

// Names a parameterised case after its `what` text: anything but letters and
// digits becomes an underscore.
struct CaseName {
    template <class Info>
    std::string operator()(const Info& info) const
    {
        std::string name;
        for (const char* p = info.param.what; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    }
};

} // namespace TolvaneTests

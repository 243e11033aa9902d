#include "settings/SettingsValueText.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace Ostrand {
namespace internal {

std::wstring persistentDoubleText(double value)
{
    std::wostringstream stream;
    stream.precision(16);
    stream << value;
    return stream.str();
}

std::wstring volatileDoubleText(double value)
{
    // The largest double takes 309 digits before the point: the buffer is
    // sized from the length the formatter reports, never guessed.
    const int length = std::snprintf(nullptr, 0, "%f", value);
    if (length <= 0)
        return std::wstring();
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), "%f", value);
    return std::wstring(text.begin(), text.begin() + length);
}

} // namespace internal
} // namespace Ostrand

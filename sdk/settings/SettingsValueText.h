#pragma once
#include <string>

namespace Ostrand {
namespace internal {

// A double as a persistent set writes it: 16 significant digits, trailing
// zeros dropped, exponent form for very large or small values.
std::wstring persistentDoubleText(double value);
// A double as a volatile set writes it: "%f", six decimals in fixed
// notation, however many digits the integral part has.
std::wstring volatileDoubleText(double value);

} // namespace internal
} // namespace Ostrand

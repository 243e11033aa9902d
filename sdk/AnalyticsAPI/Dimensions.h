#pragma once
#include <string>
#include <unordered_map>

namespace Ostrand {
namespace Analytics {

// One record: dimension name to text value.
using DimensionMap = std::unordered_map<std::wstring, std::wstring>;

// "true" or "false", for flags recorded as dimensions.
std::wstring BoolToString(bool value);

} // namespace Analytics
} // namespace Ostrand

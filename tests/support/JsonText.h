#pragma once
#include <string>

namespace TestSupport {

// A JSON string literal for text that holds no quote and no control
// character (a path, a name): backslashes doubled, quotes around.
std::wstring jsonText(const std::wstring& text);

} // namespace TestSupport

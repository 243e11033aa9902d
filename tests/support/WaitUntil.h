#pragma once
#include <chrono>
#include <functional>

namespace TestSupport {

// How long a test waits for what must happen before it calls it a failure:
// long enough for a loaded machine, and only ever spent when it fails.
constexpr std::chrono::milliseconds kGenerousWait{30000};

// Checks `condition` every few milliseconds until it holds; false when it
// still does not at the deadline. For what has no event to wait on.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kGenerousWait);

} // namespace TestSupport

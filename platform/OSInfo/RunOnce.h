#pragma once
#include <atomic>
#include <cstdint>
#include <functional>

namespace Halvex {
namespace internal {

enum OnceState : uint32_t { OnceIdle = 0, OnceRunning = 1, OnceDone = 2 };

// Runs the callback unless an earlier run succeeded. One thread runs it at a
// time; the others spin until it ends. A callback that answers false (or
// throws) returns the state to idle, so the next caller tries again.
// True when the state is done afterwards.
bool RunOnce(std::atomic<uint32_t>& state, const std::function<bool()>& callback);

} // namespace internal
} // namespace Halvex

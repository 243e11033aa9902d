#pragma once

namespace TestSupport {

// gtest binds its arguments to references, and a reference to a field of a
// packed structure is misaligned (the hardened build traps on it): compare a
// copy instead, field(header.flags).
template <typename T>
T field(T value)
{
    return value;
}

} // namespace TestSupport

#pragma once

namespace Ostrand {
namespace Analytics {
namespace internal {

// Joins the multithreaded apartment for its lifetime; a thread already in
// another apartment keeps it and the guard does nothing.
class ComApartmentGuard {
public:
    ComApartmentGuard();
    ~ComApartmentGuard();
    ComApartmentGuard(const ComApartmentGuard&) = delete;
    ComApartmentGuard& operator=(const ComApartmentGuard&) = delete;

private:
    bool m_initialized;
};

} // namespace internal
} // namespace Analytics
} // namespace Ostrand

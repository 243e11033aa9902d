#pragma once
#include <set>
#include <string>

namespace Ostrand {

// Loads and saves the set of application codes. The base keeps only the
// initialised state; its load, save and set-up steps do nothing and succeed.
class ReferenceProvider {
public:
    virtual ~ReferenceProvider() = default;

    // False when already initialised or when the set-up step fails.
    virtual bool initialize();
    // False when not initialised or when the tear-down step fails.
    virtual bool uninitialize();
    virtual bool isInitialized() const;
    // Adds the stored codes to `codes`, which is not emptied first.
    virtual bool load(std::set<std::wstring>& codes);
    virtual bool save(const std::set<std::wstring>& codes);
    // True when the last initialise failed only because someone else held
    // the store: what it holds is unknown, not damaged, and reading it again
    // later may succeed.
    virtual bool wasBusy() const;

protected:
    virtual bool doInitialize();
    virtual bool doUninitialize();

private:
    bool m_initialized = false;
};

} // namespace Ostrand

#include "Logging/Log.h"

#include <atomic>
#include <mutex>
#include <string>

namespace ETWLogging {

std::atomic<CLoggingIf*> internal::g_readyLogger{nullptr};

namespace {

// One identity value that may be null.
struct OptionalText {
    bool present = false;
    std::wstring text;

    void assign(const wchar_t* value)
    {
        present = value != nullptr;
        text = present ? value : L"";
    }
    // Every logger refuses an empty group or host and the process would log
    // nothing at all, so an empty string keeps the default.
    void assignOrKeep(const wchar_t* value, const OptionalText& fallback)
    {
        if (value && !*value)
            *this = fallback;
        else
            assign(value);
    }
    const wchar_t* get() const { return present ? text.c_str() : nullptr; }
};

struct Identity {
    OptionalText app;
    OptionalText group;
    HMODULE module = nullptr;
    OptionalText host;
    uint32_t mechanism = 0;
};

Identity makeDefaultIdentity()
{
    Identity identity;
    identity.group.assign(L"_no_group");
    identity.host.assign(L"_no_host");
    return identity;
}

enum HolderState : int { kNotMade = 0, kMade = 1, kTornDown = 2 };

// The host may hand the identity over from any thread.
std::mutex g_identityMutex;
Identity g_identity = makeDefaultIdentity();

// A mutex and a state flag rather than std::call_once, which hangs when it is
// retried after the callable threw (mingw-w64 winpthreads).
std::mutex g_createMutex;
std::atomic<int> g_state{kNotMade};
std::atomic<CLoggerHolder*> g_holder{nullptr};
std::shared_ptr<CLogBuilderIf_ex> g_builder;
// Code that logs while the logger is being made (the builder's own
// collaborators) gets no logger instead of waiting for itself.
thread_local bool t_creating = false;

void createLoggerHolder(const Identity& identity)
{
    CLoggerHolder* holder = new (std::nothrow) CLoggerHolder(g_builder);
    if (!holder)
        return;
    g_holder.store(holder);
    try {
        holder->Create(identity.app.get(), identity.group.get(),
                       identity.module ? identity.module : GetCurrentModule(), identity.host.get(),
                       identity.mechanism);
    } catch (...) {
        g_holder.store(nullptr);
        delete holder;
        throw;
    }
}

// Runs after every function-local static made later (the bridge among them)
// is gone: clears the holder first, so a late log call does nothing.
struct HolderTeardown {
    ~HolderTeardown()
    {
        g_state.store(kTornDown);
        internal::g_readyLogger.store(nullptr);
        delete g_holder.exchange(nullptr);
    }
} g_teardown;

} // namespace

CLoggerHolder* GetLoggerInstance()
{
    if (g_state.load() != kNotMade)
        return g_holder.load();
    if (t_creating)
        return nullptr;

    std::lock_guard<std::mutex> lock(g_createMutex);
    if (g_state.load() != kNotMade)
        return g_holder.load();

    Identity identity;
    {
        std::lock_guard<std::mutex> identityLock(g_identityMutex);
        identity = g_identity;
    }
    struct CreatingFlag {
        CreatingFlag() { t_creating = true; }
        ~CreatingFlag() { t_creating = false; }
    } creating;
    createLoggerHolder(identity);
    g_state.store(kMade);
    CLoggerHolder* holder = g_holder.load();
    // The holder's logger is never replaced after this.
    internal::g_readyLogger.store(holder ? holder->Logger() : nullptr, std::memory_order_release);
    return holder;
}

CLoggerHolder* GetLogger()
{
    return GetLoggerInstance();
}

bool internal::IsLogEnabledFirstTime(uint32_t level)
{
    CLoggerHolder* holder = GetLoggerInstance();
    if (!holder)
        return false;
    CLoggingIf* logger = holder->Logger();
    return logger && logger->IsLevelEnabled(level);
}

void SetLogIdentity(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                    uint32_t mechanism)
{
    try {
        // The caller's strings are valid only for the call: copy them.
        const Identity defaults = makeDefaultIdentity();
        Identity identity;
        identity.app.assignOrKeep(app, defaults.app);
        identity.group.assignOrKeep(group, defaults.group);
        identity.module = module ? module : GetCurrentModule();
        identity.host.assignOrKeep(host, defaults.host);
        identity.mechanism = mechanism;
        std::lock_guard<std::mutex> lock(g_identityMutex);
        g_identity = std::move(identity);
    } catch (...) {
        // Out of memory: the identity stays as it was.
    }
}

HMODULE GetCurrentModule()
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&GetCurrentModule), &module))
        return nullptr;
    return module;
}

namespace internal {

CLoggerHolder* PublishedHolder()
{
    return g_holder.load();
}

void SetLogBuilder(std::shared_ptr<CLogBuilderIf_ex> builder)
{
    std::lock_guard<std::mutex> lock(g_createMutex);
    g_builder = std::move(builder);
}

} // namespace internal

} // namespace ETWLogging

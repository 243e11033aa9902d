#include "viewer/KeyRecheckQueue.h"

#include "Logging/Log.h"

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Kest {

namespace {

const wchar_t kSource[] = L"KeyRecheckQueue";
const wchar_t kRun[] = L"Kest::KeyRecheckQueue::run";

// What the thread runs, and the reference to the module that holds its code:
// the thread may outlive the queue, and with it the module's end.
struct ThreadStart {
    std::function<void()> work;
    HMODULE module = nullptr;
};

DWORD WINAPI threadMain(void* parameter)
{
    auto* start = static_cast<ThreadStart*>(parameter);
    const HMODULE module = start->module;
    try {
        start->work();
    } catch (...) {
        // The work guards every call it makes; nothing may leave a thread.
    }
    delete start;
    FreeLibraryAndExitThread(module, 0);
}

bool startThread(std::function<void()> work)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&threadMain),
                            &module))
        return false;
    auto* start = new (std::nothrow) ThreadStart{std::move(work), module};
    HANDLE thread = start ? CreateThread(nullptr, 0, &threadMain, start, 0, nullptr) : nullptr;
    if (!thread) {
        delete start;
        FreeLibrary(module);
        return false;
    }
    CloseHandle(thread);
    return true;
}

} // namespace

struct KeyRecheckQueue::Shared {
    Shared(Lookup lookup, Apply apply) : lookup(std::move(lookup)), apply(std::move(apply)) {}

    void run();
    // Back in front of the keys that came since, unless a key came again.
    void putBack(const std::vector<std::pair<std::wstring, Notice>>& turn);

    const Lookup lookup;
    const Apply apply;
    // Held while a turn's keys are applied; pause and the end take it, so
    // that nothing is applied once they return. Taken before `lock`.
    std::mutex applying;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::wstring> order;
    std::unordered_map<std::wstring, Notice> waiting;
    bool paused = true;
    // Counts the pauses: an answer asked for before a pause is older than
    // anything the store did while no notice was heard.
    uint64_t pauses = 0;
    bool closed = false;
    bool threadStarted = false;
};

KeyRecheckQueue::KeyRecheckQueue(Lookup lookup, Apply apply)
    : m_shared(std::make_shared<Shared>(std::move(lookup), std::move(apply)))
{
}

KeyRecheckQueue::~KeyRecheckQueue()
{
    {
        std::lock_guard<std::mutex> applying(m_shared->applying);
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->closed = true;
        m_shared->order.clear();
        m_shared->waiting.clear();
    }
    m_shared->changed.notify_all();
}

bool KeyRecheckQueue::post(const std::wstring& key, Notice notice)
{
    Shared& shared = *m_shared;
    {
        std::lock_guard<std::mutex> guard(shared.lock);
        if (shared.closed)
            return false;
        if (!shared.threadStarted) {
            try {
                shared.threadStarted = startThread([owned = m_shared]() { owned->run(); });
            } catch (const std::exception&) {
            }
            if (!shared.threadStarted)
                return false;
        }
        const auto waiting = shared.waiting.find(key);
        if (waiting != shared.waiting.end()) {
            waiting->second = notice;
            return true;
        }
        shared.waiting.emplace(key, notice);
        shared.order.push_back(key);
    }
    shared.changed.notify_one();
    return true;
}

void KeyRecheckQueue::pause()
{
    std::lock_guard<std::mutex> applying(m_shared->applying);
    std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->paused = true;
    ++m_shared->pauses;
}

void KeyRecheckQueue::resume()
{
    {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->paused = false;
    }
    m_shared->changed.notify_one();
}

void KeyRecheckQueue::Shared::run()
{
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        changed.wait(guard, [this]() { return closed || (!paused && !order.empty()); });
        if (closed)
            return;
        std::vector<std::pair<std::wstring, Notice>> turn;
        for (const std::wstring& key : order)
            turn.emplace_back(key, waiting.at(key));
        order.clear();
        waiting.clear();
        const uint64_t pausesBefore = pauses;
        // A notice from now on makes its key wait for the next turn.
        guard.unlock();
        std::unordered_set<std::wstring> held;
        bool asked = false;
        try {
            asked = lookup(held);
        } catch (const std::exception& error) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kRun, L"The lookup of %zu keys failed: %hs.", turn.size(),
                    error.what());
        } catch (...) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kRun,
                    L"The lookup of %zu keys failed: an exception of unknown type.", turn.size());
        }
        std::unique_lock<std::mutex> applyingTurn(applying);
        guard.lock();
        if (closed)
            return;
        if (paused || pauses != pausesBefore) {
            putBack(turn);
            continue;
        }
        guard.unlock();
        for (const auto& entry : turn) {
            const std::wstring& key = entry.first;
            try {
                apply(key, asked ? held.count(key) != 0 : entry.second == Notice::Set);
            } catch (const std::exception& error) {
                ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kRun, L"Failed to look again at the key %ls: %hs. Going on.",
                        key.c_str(), error.what());
            } catch (...) {
                ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kRun,
                        L"Failed to look again at the key %ls: an exception of unknown type. Going on.", key.c_str());
            }
        }
        applyingTurn.unlock();
        guard.lock();
    }
}

void KeyRecheckQueue::Shared::putBack(const std::vector<std::pair<std::wstring, Notice>>& turn)
{
    for (auto entry = turn.rbegin(); entry != turn.rend(); ++entry) {
        if (waiting.emplace(entry->first, entry->second).second)
            order.push_front(entry->first);
    }
}

} // namespace Kest

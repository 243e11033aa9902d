#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

namespace Kest {

// Settings keys whose change notices came in and that are to be looked up
// again, worked one at a time in the order they came on a thread of its own.
// Notices arrive on the bus library's delivery threads, which run at once
// and so may hand over a key's notices in another order than the changes
// were made; a lookup made after the last notice of a key sees its last
// change, whatever the order. The lookup is a settings request, which must
// not hold up a delivery thread: the bus may need that very thread for the
// answer. A key already waiting is not queued twice.
class KeyRecheckQueue {
public:
    enum class Notice { Set, Deleted };
    // Called on the queue's thread with the key and the kind of its latest
    // notice, which stands when the lookup cannot be made.
    using Recheck = std::function<void(const std::wstring& key, Notice latest)>;

    explicit KeyRecheckQueue(Recheck recheck);
    // Drops the keys still waiting and waits for the lookup in progress.
    ~KeyRecheckQueue();
    KeyRecheckQueue(const KeyRecheckQueue&) = delete;
    KeyRecheckQueue& operator=(const KeyRecheckQueue&) = delete;

    // False when the key could not be queued (no thread could be started):
    // the caller then has only the notice to go by.
    bool post(const std::wstring& key, Notice notice);
    // Drops the keys still waiting; a lookup in progress finishes.
    void clear();

private:
    void run();

    Recheck m_recheck;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::wstring> m_order;
    std::unordered_map<std::wstring, Notice> m_waiting;
    bool m_stopping = false;
    std::thread m_thread; // started with the first key
};

} // namespace Kest

#pragma once
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

namespace Kest {

// Settings keys whose change notices came in and that are to be looked up
// again, on a thread of its own. Notices arrive on the bus library's delivery
// threads, which run at once and so may hand over a key's notices in another
// order than the changes were made; a lookup made after the last notice of a
// key sees its last change, whatever the order. The lookup is a settings
// request, which must not hold up a delivery thread: the bus may need that
// very thread for the answer.
//
// Each turn takes every key waiting at that moment and asks the store once
// for all of them; a notice that comes during the lookup makes its key wait
// for the next turn. The thread owns what the lookup needs, so neither pause
// nor the queue's end waits for a lookup: its answer is dropped, and after a
// pause its keys wait for the next resume.
class KeyRecheckQueue {
public:
    enum class Notice { Set, Deleted };
    // One lookup for all the keys of a turn: fills the keys the store holds.
    // False when the store could not be asked.
    using Lookup = std::function<bool(std::unordered_set<std::wstring>& held)>;
    // Called for each key of a turn with whether the store holds it; when
    // the lookup failed, with the word of the key's latest notice.
    using Apply = std::function<void(const std::wstring& key, bool held)>;

    // Paused until the first resume. The lookup must not refer to anything
    // the owner of the queue owns alone: it may run after the queue is gone.
    KeyRecheckQueue(Lookup lookup, Apply apply);
    // Waits for a key being applied, never for a lookup.
    ~KeyRecheckQueue();
    KeyRecheckQueue(const KeyRecheckQueue&) = delete;
    KeyRecheckQueue& operator=(const KeyRecheckQueue&) = delete;

    // False when the key could not be queued (no thread could be started):
    // the caller then has only the notice to go by.
    bool post(const std::wstring& key, Notice notice);
    // No key is applied from the return on; the keys waiting and those of a
    // lookup in flight wait for resume.
    void pause();
    void resume();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace Kest

#pragma once
// The broker's side of one connection: a thread that reads and checks frames
// and a thread that writes the frames queued for it, so that a client slow to
// read holds up nobody but itself.
#include "BrokerFrame.h"
#include "BrokerPipe.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace BusBroker {

class BrokerSession : public std::enable_shared_from_this<BrokerSession> {
public:
    // False from the handler ends the connection.
    using FrameHandler = std::function<bool(BrokerSession&, const Frame&)>;
    // Called once, on the reading thread, when the connection ends; `reason`
    // says what was wrong with the client's last frame, null when nothing was.
    using EndHandler = std::function<void(BrokerSession&, const char* reason)>;

    BrokerSession(uint64_t id, std::unique_ptr<BrokerPipe> pipe);
    ~BrokerSession();
    BrokerSession(const BrokerSession&) = delete;
    BrokerSession& operator=(const BrokerSession&) = delete;

    uint64_t id() const { return m_id; }
    // Starts both threads; the session keeps itself alive until it ends.
    void start(FrameHandler onFrame, EndHandler onEnd);
    // Queues a frame; dropped once the session ends.
    void send(std::vector<uint8_t> frame);

private:
    void readLoop(FrameHandler onFrame, EndHandler onEnd);
    void writeLoop();

    const uint64_t m_id;
    std::unique_ptr<BrokerPipe> m_pipe;
    OwnedHandle m_stop;
    std::mutex m_lock;
    std::condition_variable m_queued;
    std::deque<std::vector<uint8_t>> m_queue;
    bool m_ended = false;
    std::thread m_writer;
};

} // namespace BusBroker

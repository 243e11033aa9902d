#include "BrokerSession.h"

namespace BusBroker {

BrokerSession::BrokerSession(uint64_t id, std::unique_ptr<BrokerPipe> pipe)
    : m_id(id), m_pipe(std::move(pipe)), m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

BrokerSession::~BrokerSession() = default;

void BrokerSession::start(FrameHandler onFrame, EndHandler onEnd)
{
    std::shared_ptr<BrokerSession> self = shared_from_this();
    // The reading thread joins the writer: the writer holds no reference.
    m_writer = std::thread([this]() { writeLoop(); });
    std::thread([self, onFrame, onEnd]() { self->readLoop(onFrame, onEnd); }).detach();
}

void BrokerSession::send(std::vector<uint8_t> frame)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_ended)
            return;
        m_queue.push_back(std::move(frame));
    }
    m_queued.notify_one();
}

void BrokerSession::readLoop(FrameHandler onFrame, EndHandler onEnd)
{
    std::vector<uint8_t> bytes;
    const char* reason = nullptr; // a client that closes or dies is no fault
    for (;;) {
        const BrokerPipe::ReadResult result = m_pipe->read(bytes, m_stop.get());
        if (result == BrokerPipe::ReadResult::TooLong) {
            reason = faultText(FrameFault::Long);
            break;
        }
        if (result != BrokerPipe::ReadResult::Frame)
            break;
        Frame frame;
        const FrameFault fault = decodeFrame(bytes.data(), bytes.size(), frame);
        if (fault != FrameFault::None) {
            reason = faultText(fault);
            break;
        }
        if (frame.envelope.operation == static_cast<uint32_t>(Operation::Close))
            break;
        if (!onFrame(*this, frame)) {
            reason = "frame not valid in its place";
            break;
        }
    }
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_ended = true;
        m_queue.clear();
    }
    m_queued.notify_all();
    SetEvent(m_stop.get());
    m_writer.join();
    onEnd(*this, reason);
    // The pipe closes with the session, once the router and the writer let go.
}

void BrokerSession::writeLoop()
{
    for (;;) {
        std::vector<uint8_t> frame;
        {
            std::unique_lock<std::mutex> guard(m_lock);
            m_queued.wait(guard, [this]() { return m_ended || !m_queue.empty(); });
            if (m_ended)
                return;
            frame = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (!m_pipe->write(frame, m_stop.get())) {
            // The client is gone; the reading thread sees it too.
            m_pipe->cancel();
            return;
        }
    }
}

} // namespace BusBroker

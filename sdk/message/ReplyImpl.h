#pragma once
#include "message/Reply.h"
#include "message/ReplyClock.h"

#include <future>

namespace Ostrand {

// A reply over the future that the bus client's reply callback completes,
// with a deadline of its own: the request's timeout plus one second. A
// deadline beyond the clock's range is never reached: such a reply waits for
// ever.
class ReplyImpl : public Reply {
public:
    ReplyImpl(std::future<std::shared_ptr<Message>> future, const std::chrono::milliseconds timeout,
              std::shared_ptr<ReplyClock> clock = nullptr);

    static std::shared_ptr<Reply> create(std::future<std::shared_ptr<Message>>&& future,
                                         const std::chrono::milliseconds timeout,
                                         std::shared_ptr<ReplyClock> clock = nullptr);

    int32_t peekStatus() const override;
    std::shared_ptr<Message> getMessage() const override;
    int32_t getStatus() override;
    int32_t waitFor(const std::chrono::milliseconds duration) override;

private:
    int32_t getReplyMessage();
    int32_t takeValue();

    int32_t m_status = Pending;
    std::shared_ptr<Message> m_message;
    std::future<std::shared_ptr<Message>> m_future;
    std::shared_ptr<ReplyClock> m_clock;
    int64_t m_deadline = 0;
};

} // namespace Ostrand

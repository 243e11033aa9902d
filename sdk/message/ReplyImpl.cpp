#include "message/ReplyImpl.h"

#include "Logging/Log.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <system_error>

namespace Ostrand {

namespace {

const wchar_t kSource[] = L"message\\ReplyImpl";
const int64_t kGraceMs = 1000;
// The runtime turns a wait's length into nanoseconds on the system clock,
// which overflows for lengths from about 9e12 ms on: longer waits are made
// of slices of a day each.
const std::chrono::milliseconds kLongestSlice(24LL * 60 * 60 * 1000);

// A deadline past the clock's range is "never"; one before it, "already".
int64_t saturatingSum(int64_t a, int64_t b)
{
    int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
    return sum;
}

int64_t saturatingDifference(int64_t a, int64_t b)
{
    int64_t difference = 0;
    if (__builtin_sub_overflow(a, b, &difference))
        return b < 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
    return difference;
}

// True once the future is ready, false when `duration` passed first.
bool readyWithin(const std::future<std::shared_ptr<Message>>& future, std::chrono::milliseconds duration)
{
    while (duration > kLongestSlice) {
        if (future.wait_for(kLongestSlice) == std::future_status::ready)
            return true;
        duration -= kLongestSlice;
    }
    return future.wait_for(duration) == std::future_status::ready;
}

int32_t statusOfError(const std::error_code& code)
{
    // The client marks a time-out reported by the bus as a cancellation.
    return code == std::errc::operation_canceled ? Reply::TimedOut : Reply::Failed;
}

} // namespace

ReplyImpl::ReplyImpl(std::future<std::shared_ptr<Message>> future, const std::chrono::milliseconds timeout,
                     std::shared_ptr<ReplyClock> clock)
    : m_future(std::move(future)), m_clock(clock ? std::move(clock) : std::make_shared<ReplyClock>())
{
    m_deadline = saturatingSum(saturatingSum(m_clock->nowMs(), static_cast<int64_t>(timeout.count())), kGraceMs);
}

std::shared_ptr<Reply> ReplyImpl::create(std::future<std::shared_ptr<Message>>&& future,
                                         const std::chrono::milliseconds timeout, std::shared_ptr<ReplyClock> clock)
{
    return std::make_shared<ReplyImpl>(std::move(future), timeout, std::move(clock));
}

int32_t ReplyImpl::peekStatus() const
{
    return m_status;
}

std::shared_ptr<Message> ReplyImpl::getMessage() const
{
    return m_status == Received ? m_message : nullptr;
}

int32_t ReplyImpl::getStatus()
{
    if (m_status == Pending)
        m_status = getReplyMessage();
    return m_status;
}

int32_t ReplyImpl::waitFor(const std::chrono::milliseconds duration)
{
    // Once evaluated, the answer stays what it was: the spent future says
    // nothing about it.
    if (m_status != Pending)
        return m_status;
    if (!m_future.valid()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::ReplyImpl::waitFor",
                L"Reply future is in an invalid state. Returning.");
        m_status = Failed;
        return m_status;
    }
    if (!readyWithin(m_future, duration)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, L"Ostrand::ReplyImpl::waitFor",
                L"Reply waitFor timed out. Returning.");
        return m_status;
    }
    m_status = getReplyMessage();
    return m_status;
}

int32_t ReplyImpl::getReplyMessage()
{
    if (!m_future.valid()) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::ReplyImpl::getReplyMessage",
                L"Reply future is in an invalid state. Returning.");
        return Failed;
    }
    bool finalWait = false;
    while (m_future.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) {
        const int64_t remaining = saturatingDifference(m_deadline, m_clock->nowMs());
        if (remaining < 0 || finalWait) {
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, L"Ostrand::ReplyImpl::getReplyMessage",
                    L"Reply future did not get fulfilled on time. Returning.");
            return TimedOut;
        }
        // At the deadline itself a zero wait would come straight back and
        // turn this loop into a spin: wait one last millisecond instead.
        finalWait = remaining == 0;
        // A long remainder is waited a slice at a time, each followed by a
        // look at the deadline's own clock.
        m_future.wait_for(std::chrono::milliseconds(finalWait ? 1 : std::min(remaining, kLongestSlice.count())));
    }
    return takeValue();
}

int32_t ReplyImpl::takeValue()
{
    try {
        m_message = m_future.get();
        return m_message ? Received : Failed;
    } catch (const std::future_error& error) {
        return statusOfError(error.code());
    } catch (const std::system_error& error) {
        return statusOfError(error.code());
    } catch (...) {
        return Failed;
    }
}

} // namespace Ostrand

#include "executor/ServiceExecutor.h"

#include "LogFile.h"
#include "WaitUntil.h"
#include "WaitableCounter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Kest::ServiceExecutor;
using TestSupport::WaitableCounter;

class Journal {
public:
    void add(int value)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_values.push_back(value);
    }
    std::vector<int> values()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

private:
    std::mutex m_mutex;
    std::vector<int> m_values;
};

TEST(ServiceExecutor, TasksFromManyThreadsRunOneAtATimeInPostingOrderPerThread)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    Journal journal;
    WaitableCounter done;
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::thread::id executorThread;
    {
        ServiceExecutor executor;
        std::vector<std::thread> posters;
        for (int t = 0; t < 4; ++t) {
            posters.emplace_back([&, t] {
                for (int i = 0; i < 50; ++i) {
                    executor.post([&, t, i]() -> uint32_t {
                        if (++running > 1)
                            overlapped = true;
                        journal.add(t * 1000 + i);
                        executorThread = std::this_thread::get_id();
                        --running;
                        done.increment();
                        return i % 7 == 0 ? 0x80000002u : 0u; // a failed task does not stop the next
                    });
                }
            });
        }
        for (auto& poster : posters)
            poster.join();
        ASSERT_TRUE(done.waitFor(200, TestSupport::kGenerousWait));
    }
    // Tasks 0, 7, ..., 49 of each poster answered a failure: 8 of 50, four posters.
    EXPECT_EQ(32u, log.find({4, L"SentrelImpl", L"", L"SR Callback unsuccessful."}).size());
    EXPECT_EQ(1u, log.find({3, L"", L"", L"Starting SR executor thread"}).size());
    EXPECT_EQ(1u, log.find({3, L"", L"", L"Exiting SR executor thread"}).size());
    EXPECT_FALSE(overlapped);
    EXPECT_NE(std::this_thread::get_id(), executorThread);
    const auto values = journal.values();
    ASSERT_EQ(200u, values.size());
    std::vector<int> last(4, -1);
    for (int value : values) {
        EXPECT_GT(value % 1000, last[value / 1000]) << "thread " << value / 1000 << " out of order";
        last[value / 1000] = value % 1000;
    }
}

TEST(ServiceExecutor, ShutdownWhileIdleEndsTheThreadAndLaterPostsAreDropped)
{
    WaitableCounter ran;
    auto executor = std::make_unique<ServiceExecutor>();
    executor->shutdown();
    executor->post([&]() -> uint32_t {
        ran.increment();
        return 0;
    });
    auto destroyed = std::async(std::launch::async, [&] { executor.reset(); });
    ASSERT_EQ(std::future_status::ready, destroyed.wait_for(TestSupport::kGenerousWait));
    EXPECT_EQ(0, ran.value());
}

TEST(ServiceExecutor, ShutdownWhileATaskRunsLetsItFinishAndRunsNothingAfterIt)
{
    std::promise<void> release;
    auto released = release.get_future().share();
    WaitableCounter started, finished, later;
    auto executor = std::make_unique<ServiceExecutor>();
    executor->post([&]() -> uint32_t {
        started.increment();
        released.wait();
        finished.increment();
        return 0;
    });
    for (int i = 0; i < 3; ++i)
        executor->post([&]() -> uint32_t {
            later.increment();
            return 0;
        });
    ASSERT_TRUE(started.waitFor(1, TestSupport::kGenerousWait));
    executor->shutdown();
    release.set_value();
    executor.reset();
    EXPECT_EQ(1, finished.value());
    EXPECT_EQ(0, later.value());
}

TEST(ServiceExecutor, ATaskThatThrowsEndsTheThreadAndLeavesLaterTasksUnrun)
{
    WaitableCounter threw, later;
    auto executor = std::make_unique<ServiceExecutor>();
    executor->post([&]() -> uint32_t {
        threw.increment();
        throw std::runtime_error("task failed");
    });
    ASSERT_TRUE(threw.waitFor(1, TestSupport::kGenerousWait));
    executor->post([&]() -> uint32_t {
        later.increment();
        return 0;
    });
    auto destroyed = std::async(std::launch::async, [&] { executor.reset(); });
    ASSERT_EQ(std::future_status::ready, destroyed.wait_for(TestSupport::kGenerousWait));
    EXPECT_EQ(0, later.value());
}

} // namespace

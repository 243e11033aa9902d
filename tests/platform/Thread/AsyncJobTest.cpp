#include "Thread/AsyncJob.h"

#include "PlatformLogRecorder.h"
#include "WaitableCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

using Halvex::AsyncJob;
using TestSupport::PlatformLogRecorder;
using TestSupport::WaitableCounter;

namespace {

// Only reached when something hangs.
constexpr std::chrono::milliseconds kDeadline{10000};

const wchar_t kFile[] = L"Thread\\AsyncJob";
const wchar_t kFunction[] = L"Halvex::AsyncJob::_execute";

// The object whose member function the job runs.
struct Work {
    void run()
    {
        thread = std::this_thread::get_id();
        started.increment();
        if (body)
            body();
        returned = true;
    }

    std::function<void()> body;
    std::thread::id thread;
    WaitableCounter started;
    std::atomic<bool> returned{false};
};

class AsyncJobTest : public ::testing::Test {
protected:
    PlatformLogRecorder log;
};

} // namespace

TEST_F(AsyncJobTest, WorkThatReturnsAtOnceRunsOnItsOwnThreadAndIsJoined)
{
    Work work;
    {
        AsyncJob job(&Work::run, &work);
    }
    EXPECT_EQ(work.started.value(), 1);
    EXPECT_TRUE(work.returned);
    EXPECT_NE(work.thread, std::this_thread::get_id());
    EXPECT_TRUE(log.entries().empty());
}

TEST_F(AsyncJobTest, DestructionOnAnotherThreadWaitsForTheWorkToReturn)
{
    WaitableCounter release;
    Work work;
    work.body = [&] { ASSERT_TRUE(release.waitFor(1, kDeadline)); };

    auto job = std::make_unique<AsyncJob>(&Work::run, &work);
    ASSERT_TRUE(work.started.waitFor(1, kDeadline));

    WaitableCounter destroyerRunning;
    std::atomic<bool> returnedBeforeJoinEnded{false};
    std::thread destroyer([&] {
        destroyerRunning.increment();
        job.reset();
        returnedBeforeJoinEnded = work.returned.load();
    });
    ASSERT_TRUE(destroyerRunning.waitFor(1, kDeadline));
    EXPECT_FALSE(work.returned);
    release.increment();
    destroyer.join();

    EXPECT_TRUE(returnedBeforeJoinEnded);
    EXPECT_NE(work.thread, destroyer.get_id());
    EXPECT_TRUE(log.entries().empty());
}

namespace {

struct ThrowCase {
    const char* name;
    std::function<void()> raise;
    int32_t line;
    const wchar_t* message;
};

class CustomError : public std::exception {
public:
    const char* what() const noexcept override { return "custom failure with 100% of its text"; }
};

void PrintTo(const ThrowCase& c, std::ostream* os)
{
    *os << c.name;
}

class AsyncJobThrowTest : public AsyncJobTest, public ::testing::WithParamInterface<ThrowCase> {};

} // namespace

TEST_P(AsyncJobThrowTest, WhatTheWorkThrowsIsLoggedOnceAndTheThreadEndsNormally)
{
    Work work;
    work.body = GetParam().raise;
    {
        AsyncJob job(&Work::run, &work);
        ASSERT_TRUE(log.waitForCount(1, kDeadline));
    }
    EXPECT_FALSE(work.returned);

    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, 2u);
    EXPECT_EQ(entries[0].file, kFile);
    EXPECT_EQ(entries[0].function, kFunction);
    EXPECT_EQ(entries[0].line, GetParam().line);
    EXPECT_EQ(entries[0].message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Exceptions, AsyncJobThrowTest,
    ::testing::Values(
        ThrowCase{"RuntimeError", [] { throw std::runtime_error("disk is full"); }, 58,
                  L"STL exception caught while invoking asynchronous job: disk is full."},
        ThrowCase{"OwnStdException", [] { throw CustomError(); }, 58,
                  L"STL exception caught while invoking asynchronous job: custom failure with 100% of its text."},
        ThrowCase{"Integer", [] { throw 42; }, 62, L"Unknown exception caught while invoking asynchronous job."},
        ThrowCase{"Text", [] { throw "plain text"; }, 62,
                  L"Unknown exception caught while invoking asynchronous job."}),
    [](const ::testing::TestParamInfo<ThrowCase>& info) { return std::string(info.param.name); });

TEST_F(AsyncJobTest, NullObjectIsLoggedAsAFailedCallInsteadOfCrashing)
{
    {
        AsyncJob job(&Work::run, static_cast<Work*>(nullptr));
    }
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].line, 58);
    EXPECT_EQ(entries[0].message, L"STL exception caught while invoking asynchronous job: bad_function_call.");
}

TEST_F(AsyncJobTest, JobDestroyedByItsOwnWorkDoesNotEndTheProcess)
{
    // The worker outlives the test body here, so everything it touches lives
    // on the heap for the rest of the process.
    struct Shared {
        std::unique_ptr<AsyncJob> job;
        WaitableCounter handedOver;
        WaitableCounter destroyed;
        Work work;
    };
    auto* shared = new Shared;
    shared->work.body = [shared] {
        ASSERT_TRUE(shared->handedOver.waitFor(1, kDeadline));
        shared->job.reset();
        shared->destroyed.increment();
    };

    shared->job = std::make_unique<AsyncJob>(&Work::run, &shared->work);
    shared->handedOver.increment();
    ASSERT_TRUE(shared->destroyed.waitFor(1, kDeadline));
    EXPECT_EQ(shared->job, nullptr);
    EXPECT_TRUE(log.entries().empty());
}

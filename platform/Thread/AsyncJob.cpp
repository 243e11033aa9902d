#include "Thread/AsyncJob.h"
#include "Logging/CLogger.h"

#include <exception>
#include <utility>

namespace Halvex {

namespace {
const wchar_t kFile[] = L"Thread\\AsyncJob";
const wchar_t kExecute[] = L"Halvex::AsyncJob::_execute";
} // namespace

void AsyncJob::start(std::function<void()> work)
{
    // The future is taken before the thread exists, so that nothing can throw
    // between starting the worker and waiting for it.
    std::future<bool> started = m_started.get_future();
    std::thread worker(&AsyncJob::_run, this, std::move(work));
    m_worker = std::move(worker);
    started.wait();
}

AsyncJob::~AsyncJob()
{
    if (!m_worker.joinable())
        return;
    if (m_worker.get_id() == std::this_thread::get_id()) {
        // Destroyed by its own work: a thread cannot join itself, and the
        // refusal would end the process from this destructor. The worker no
        // longer touches the job once its work returns, so it may run out
        // on its own.
        m_worker.detach();
        return;
    }
    m_worker.join();
}

// The work is owned by the thread, not by the job, so that the job may go
// while the work is still on the stack.
void AsyncJob::_run(std::function<void()> work)
{
    _execute(work);
}

void AsyncJob::_execute(const std::function<void()>& work)
{
    try {
        m_started.set_value(true);
        // `this` may be gone from here on (see the destructor).
        work();
    } catch (const std::exception& e) {
        CLogger::Log(LOG_TYPE_ERROR, kFile, kExecute, 58,
                     L"STL exception caught while invoking asynchronous job: %hs.", e.what());
    } catch (...) {
        CLogger::Log(LOG_TYPE_ERROR, kFile, kExecute, 62,
                     L"Unknown exception caught while invoking asynchronous job.");
    }
}

} // namespace Halvex

#include "executor/ServiceExecutor.h"

#include "Logging/Log.h"

namespace Kest {

namespace {
const wchar_t kSource[] = L"SentrelImpl";
const wchar_t kFunction[] = L"Kest::SentrelImpl::executeCallback";
} // namespace

ServiceExecutor::ServiceExecutor() : m_job(new Halvex::AsyncJob(&ServiceExecutor::executeCallback, this)) {}

ServiceExecutor::~ServiceExecutor()
{
    shutdown();
    m_job.reset();
}

void ServiceExecutor::post(TaskQueue::Task task)
{
    m_queue.post(std::move(task));
}

void ServiceExecutor::shutdown()
{
    m_exit.exchange(true);
    m_queue.stop();
}

void ServiceExecutor::restart()
{
    if (!m_exit.load())
        return;
    m_job.reset();
    m_queue.reopen();
    m_exit.store(false);
    m_job.reset(new Halvex::AsyncJob(&ServiceExecutor::executeCallback, this));
}

void ServiceExecutor::executeCallback()
{
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kFunction, L"Starting SR executor thread");
    while (!m_exit.load()) {
        TaskQueue::Task task;
        if (!m_queue.pop(task))
            continue;
        const uint32_t status = task ? task() : 0;
        if (status != 0)
            ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction, L"SR Callback unsuccessful.");
    }
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, kFunction, L"Exiting SR executor thread");
}

} // namespace Kest

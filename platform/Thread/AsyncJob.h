#pragma once
#include <functional>
#include <future>
#include <thread>

namespace Halvex {

// Runs one member function of one object on a thread of its own. The
// constructor returns once the function is about to run on that thread;
// nothing the function throws leaves the thread, it is logged instead.
//
// The job does not own the object: the object must outlive the job. The job
// has no stop operation: the owner tells the function to return, and the
// destructor waits until it has.
class AsyncJob {
public:
    template <typename T>
    AsyncJob(void (T::*method)(), T* object)
    {
        // A null object or method leaves the work empty: invoking it throws
        // std::bad_function_call on the worker, which is logged like any other
        // failure instead of calling through a null pointer.
        std::function<void()> work;
        if (method && object)
            work = [method, object]() { (object->*method)(); };
        start(std::move(work));
    }

    ~AsyncJob();

    AsyncJob(const AsyncJob&) = delete;
    AsyncJob& operator=(const AsyncJob&) = delete;

private:
    void start(std::function<void()> work);
    void _run(std::function<void()> work);
    void _execute(const std::function<void()>& work);

    std::promise<bool> m_started;
    std::thread m_worker;
};

} // namespace Halvex

#include "Registry/monitored_reg_key.h"
#include "Logging/CLogger.h"

#include <exception>
#include <system_error>
#include <utility>

namespace Halvex {

namespace {
const wchar_t kFile[] = L"Registry\\monitored_reg_key";
const wchar_t kWorker[] = L"Halvex::monitored_reg_key::registry_callback_thread";
} // namespace

monitored_reg_key::monitored_reg_key(std::shared_ptr<internal::CRegKeyImpl> keyImpl,
                                     std::shared_ptr<CEventFactory> events)
    : m_key(std::make_unique<CRegKey>(std::move(keyImpl))),
      m_events(events ? std::move(events) : std::make_shared<CEventFactory>())
{
}

monitored_reg_key::~monitored_reg_key()
{
    // Only a destruction from the callback makes stop throw; the worker is
    // then still joinable and the process ends, as it must: the worker would
    // go on using this object.
    stop();
}

LONG monitored_reg_key::create(HKEY parent, LPCWSTR subkey, LPWSTR keyClass, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES security, DWORD* disposition)
{
    reset();
    return m_key->Create(parent, subkey, keyClass, options, access, security, disposition);
}

LONG monitored_reg_key::open(HKEY parent, LPCWSTR subkey, REGSAM access)
{
    reset();
    return m_key->Open(parent, subkey, access);
}

LONG monitored_reg_key::close()
{
    stop();
    return m_key->Close();
}

void monitored_reg_key::reset()
{
    stop();
    close();
}

bool monitored_reg_key::start(std::function<void()> callback, bool watchSubtree, DWORD notifyFilter)
{
    stop();
    if (!m_key || !m_key->GetHandle() || !callback || m_worker.joinable())
        return false;

    m_callback = std::move(callback);

    // Both events or none: a worker without its stop event could never be
    // told to end, one without its notify event would never be woken.
    CEventHandle stopEvent = m_events->CreateAutoResetEvent();
    if (!stopEvent)
        return false;
    CEventHandle notifyEvent = m_events->CreateAutoResetEvent();
    if (!notifyEvent)
        return false;
    m_stopEvent = std::move(stopEvent);
    m_notifyEvent = std::move(notifyEvent);

    try {
        m_worker = std::thread(&monitored_reg_key::thread_main, this, watchSubtree, notifyFilter);
    } catch (const std::system_error&) {
        closeEvents();
        return false;
    }
    return m_worker.joinable();
}

bool monitored_reg_key::stop()
{
    m_stopEvent.set();
    if (m_worker.joinable()) {
        // The callback cannot wait for its own thread. The stop event is
        // signalled, so the worker ends at its next wait; the events stay
        // open for it until the owner joins it.
        if (m_worker.get_id() == std::this_thread::get_id())
            throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
        m_worker.join();
        m_worker = std::thread();
    }
    closeEvents();
    return true;
}

void monitored_reg_key::closeEvents()
{
    m_notifyEvent.reset();
    m_stopEvent.reset();
}

void monitored_reg_key::thread_main(bool watchSubtree, DWORD notifyFilter)
{
    registry_callback_thread(watchSubtree, notifyFilter);
}

uint32_t monitored_reg_key::registry_callback_thread(bool watchSubtree, DWORD notifyFilter)
{
    if (!m_key)
        return ERROR_INVALID_PARAMETER;
    for (;;) {
        // The registry functions return their error instead of setting the
        // thread's last error: the result is the one to report.
        LONG armed = m_key->NotifyChangeKeyValue(watchSubtree ? TRUE : FALSE, notifyFilter, m_notifyEvent.get(), TRUE);
        if (armed != ERROR_SUCCESS)
            return static_cast<uint32_t>(armed);

        HANDLE events[2] = {m_stopEvent.get(), m_notifyEvent.get()};
        DWORD woken = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0)
            return ERROR_SUCCESS;
        if (woken != WAIT_OBJECT_0 + 1)
            return GetLastError(); // only a failed wait gets here
        if (!m_callback)
            return ERROR_INVALID_PARAMETER;

        try {
            m_callback();
        } catch (const std::exception& e) {
            CLogger::Log(LOG_TYPE_ERROR, kFile, kWorker, 183,
                         L"STL exception caught while invoking registry key monitor callback: %hs.", e.what());
        } catch (...) {
            CLogger::Log(LOG_TYPE_ERROR, kFile, kWorker, 187,
                         L"Unexpected exception caught while invoking registry key monitor callback.");
        }
    }
}

} // namespace Halvex

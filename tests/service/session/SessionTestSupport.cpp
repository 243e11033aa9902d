#include "SessionTestSupport.h"

#include <stdexcept>

#include "message/MessageBusClient.h"

#include <thread>

namespace SessionTest {

using namespace std::chrono_literals;

ScriptedDispatcher::ScriptedDispatcher(std::shared_ptr<Ostrand::MessageBus> bus)
    : Kest::AlertDispatcher(nullptr, nullptr, std::move(bus))
{
}

ScriptedDispatcher::~ScriptedDispatcher() = default;

bool ScriptedDispatcher::process(const std::shared_ptr<Kest::Alert>& alert)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_suppressed.count(alert->getInfo().instanceId) == 0;
}

Kest::AlertDispatcher::ShowResult ScriptedDispatcher::tryShow(std::shared_ptr<Kest::Alert> alert)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_shown.push_back(alert ? alert->getInfo().instanceId : L"");
    m_waiting = false;
    if (m_throw == Throw::StandardFromShow) {
        m_throw = Throw::None;
        m_changed.notify_all();
        throw std::runtime_error("show failed on purpose");
    }
    if (m_showResult && alert)
        m_current = alert;
    m_changed.notify_all();
    return m_showResult && alert ? ShowResult::Shown : ShowResult::Failed;
}

bool ScriptedDispatcher::wait()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_waiting = true;
    m_changed.notify_all();
    const std::shared_ptr<Kest::Alert> shownAlert = m_current;
    m_changed.wait(lock, [&] { return !m_hold || m_current != shownAlert || !m_current; });
    if (m_throw == Throw::NonStandardFromWait) {
        m_throw = Throw::None;
        throw 42;
    }
    return m_waitResult;
}

bool ScriptedDispatcher::deleteAlert(const std::wstring& instanceId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_current || m_current->getInfo().instanceId != instanceId)
        return false;
    m_deleted.push_back(instanceId);
    m_current.reset();
    m_changed.notify_all();
    return true;
}

bool ScriptedDispatcher::dismissCurrent()
{
    std::lock_guard<std::mutex> guard(m_lock);
    ++m_dismissals;
    const bool had = m_current != nullptr;
    m_current.reset();
    m_changed.notify_all();
    return had;
}

void ScriptedDispatcher::throwNext(Throw what)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_throw = what;
}

void ScriptedDispatcher::abandon(const std::shared_ptr<Kest::Alert>& alert)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_abandoned.push_back(alert ? alert->getInfo().instanceId : L"");
    m_current.reset();
    m_changed.notify_all();
}

std::vector<std::wstring> ScriptedDispatcher::abandoned() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_abandoned;
}

void ScriptedDispatcher::suppress(const std::wstring& instanceId)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_suppressed.insert(instanceId);
}

void ScriptedDispatcher::setShowResult(bool result)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_showResult = result;
}

void ScriptedDispatcher::setWaitResult(bool result)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_waitResult = result;
}

void ScriptedDispatcher::holdOnScreen(bool hold)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_hold = hold;
    m_changed.notify_all();
}

void ScriptedDispatcher::finishCurrent()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_current.reset();
    m_changed.notify_all();
}

std::vector<std::wstring> ScriptedDispatcher::shown() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shown;
}

bool ScriptedDispatcher::waitForShown(size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return m_shown.size() >= count; });
}

bool ScriptedDispatcher::waitForWaiting(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_lock);
    return m_changed.wait_for(lock, timeout, [&] { return m_waiting; });
}

int ScriptedDispatcher::dismissals() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_dismissals;
}

std::vector<std::wstring> ScriptedDispatcher::deleted() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_deleted;
}

void SessionFixture::SetUp()
{
    ASSERT_TRUE(log.ready());
    ASSERT_TRUE(sessions.ready());
    ASSERT_TRUE(WtsDouble::WtsDoubleControl::doubleLoaded()) << "the session API double was not loaded";
    BusDouble::RawBusPeer::control().reset();
    bus = std::make_shared<Ostrand::MessageBusClient>();
}

std::vector<Record> SessionFixture::events(const std::wstring& id) const
{
    return telemetry.events(id);
}

std::shared_ptr<Kest::Alert> SessionFixture::makeAlert(const std::wstring& alertId, const std::wstring& instanceId,
                                                       int32_t priority, const std::wstring& title)
{
    Kest::AlertInfo info;
    info.alertId = alertId;
    info.instanceId = instanceId;
    info.priority = priority;
    info.product = L"prod";
    // Alerts of different titles are never duplicates of each other.
    info.context = L"{\"title\":\"" + (title.empty() ? alertId + L"/" + instanceId : title) + L"\"}";
    return std::make_shared<Kest::Alert>(std::move(info), bus);
}

bool SessionFixture::logged(uint32_t level, const std::wstring& file, const std::wstring& text) const
{
    TestSupport::LogQuery query;
    query.level = level;
    query.file = file;
    query.text = text;
    return !log.find(query).empty();
}

bool SessionFixture::waitForLine(uint32_t level, const std::wstring& file, const std::wstring& text,
                                 std::chrono::milliseconds timeout) const
{
    return TestSupport::waitUntil([&] { return logged(level, file, text); }, timeout);
}

void SessionFixture::expectDuplicateReported(const std::wstring& file, const std::wstring& alertId,
                                             const std::wstring& instanceId) const
{
    EXPECT_TRUE(logged(ETWLogging::LOG_LEVEL_ERROR, file,
                       L"Sentrel Alert Status SuppressedDuplicate. Alert id: " + alertId + L", Instance id: " +
                           instanceId + L"."));
    const auto duplicates = events(L"Sentrel.Alert.SuppressedDuplicate");
    ASSERT_EQ(1u, duplicates.size());
    EXPECT_EQ(alertId, duplicates[0].at(L"Hit.GUID"));
    EXPECT_EQ(L"prod", duplicates[0].at(L"Hit.Label.1"));
}

bool SessionFixture::waitForListing(uint32_t calls, std::chrono::milliseconds timeout) const
{
    return TestSupport::waitUntil([&] { return sessions.listingCalls() > calls; }, timeout);
}

} // namespace SessionTest

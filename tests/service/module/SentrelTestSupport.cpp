#include "SentrelTestSupport.h"

#include "TestNames.h"
#include "WaitUntil.h"

#include "alert/Alert.h"
#include "dll/ModuleManagerShim.h"

#include <algorithm>
#include <thread>

namespace SentrelTest {

using namespace std::chrono_literals;

void Journal::add(const std::wstring& line)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines.push_back(line);
}

std::vector<std::wstring> Journal::lines() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
}

size_t Journal::count(const std::wstring& line) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<size_t>(std::count(m_lines.begin(), m_lines.end(), line));
}

RecordingViewerRegistrar::RecordingViewerRegistrar(std::shared_ptr<Ostrand::MessageBus> bus,
                                                   std::shared_ptr<Journal> journal)
    : Kest::ViewerRegistrar(std::move(bus)), m_journal(std::move(journal))
{
}

void RecordingViewerRegistrar::start()
{
    m_journal->add(L"viewers start");
}

void RecordingViewerRegistrar::stop()
{
    m_journal->add(L"viewers stop");
}

RecordingPluginRegistrar::RecordingPluginRegistrar(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}

void RecordingPluginRegistrar::start()
{
    m_journal->add(L"plugins start");
}

void RecordingPluginRegistrar::stop()
{
    m_journal->add(L"plugins stop");
}

namespace {

// What both session doubles do with an alert.
void queueScripted(const std::wstring& name, Journal& journal, SessionScript& script,
                   const std::shared_ptr<Kest::Alert>& alert, bool& suppressed)
{
    const Kest::AlertInfo& info = alert->getInfo();
    journal.add(name + L" queue " + info.alertId + L" " + info.instanceId);
    std::function<void(const Kest::AlertInfo&)> onQueue;
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        suppressed = script.suppressedAlertIds.count(info.alertId) != 0;
        onQueue = script.onQueue;
    }
    if (onQueue)
        onQueue(info);
}

bool deleteScripted(const std::wstring& name, Journal& journal, SessionScript& script, const std::wstring& instanceId,
                    const std::wstring& alertId)
{
    journal.add(name + L" delete " + instanceId + L" " + alertId);
    std::function<void(const std::wstring&)> onDelete;
    {
        std::lock_guard<std::mutex> lock(script.mutex);
        onDelete = script.onDelete;
    }
    if (onDelete)
        onDelete(instanceId);
    std::lock_guard<std::mutex> lock(script.mutex);
    return script.deletableInstances.erase(name + L":" + instanceId) != 0;
}

} // namespace

RecordingUserSession::RecordingUserSession(uint32_t sessionId, std::shared_ptr<Journal> journal,
                                           std::shared_ptr<SessionScript> script)
    : m_name(L"user" + std::to_wstring(sessionId)), m_journal(std::move(journal)), m_script(std::move(script))
{
}

RecordingUserSession::~RecordingUserSession()
{
    std::function<void()> onDestroy;
    {
        std::lock_guard<std::mutex> lock(m_script->mutex);
        onDestroy = m_script->onDestroy;
    }
    if (onDestroy)
        onDestroy();
    m_journal->add(m_name + L" destroyed");
}

void RecordingUserSession::queueAlert(std::shared_ptr<Kest::Alert> alert, bool& suppressed)
{
    queueScripted(m_name, *m_journal, *m_script, alert, suppressed);
}

bool RecordingUserSession::deleteAlert(const std::wstring& instanceId, const std::wstring& alertId)
{
    return deleteScripted(m_name, *m_journal, *m_script, instanceId, alertId);
}

RecordingGlobalSession::RecordingGlobalSession(std::shared_ptr<Kest::ViewerRegistrar> viewers,
                                               std::shared_ptr<Kest::PluginRegistrar> plugins,
                                               std::shared_ptr<Journal> journal, std::shared_ptr<SessionScript> script)
    : Kest::AlertGlobalSession(std::move(viewers), std::move(plugins)),
      m_journal(std::move(journal)),
      m_script(std::move(script))
{
}

void RecordingGlobalSession::queueAlert(std::shared_ptr<Kest::Alert> alert, bool& suppressed)
{
    queueScripted(L"global", *m_journal, *m_script, alert, suppressed);
}

bool RecordingGlobalSession::deleteAlert(const std::wstring& instanceId, const std::wstring& alertId)
{
    return deleteScripted(L"global", *m_journal, *m_script, instanceId, alertId);
}

bool RecordingGlobalSession::isEmpty()
{
    return empty.load();
}

RecordingFactory::RecordingFactory(std::shared_ptr<Journal> journal) : m_journal(std::move(journal)) {}

std::shared_ptr<Kest::AlertSession> RecordingFactory::createUserSession(uint32_t sessionId,
                                                                        std::shared_ptr<Kest::ViewerRegistrar>,
                                                                        std::shared_ptr<Kest::PluginRegistrar>,
                                                                        std::shared_ptr<Kest::AlertGlobalSession>)
{
    m_journal->add(L"createUserSession " + std::to_wstring(sessionId));
    {
        std::lock_guard<std::mutex> lock(script->mutex);
        if (script->noUserSessions)
            return nullptr;
    }
    return std::make_shared<RecordingUserSession>(sessionId, m_journal, script);
}

std::shared_ptr<Kest::AlertGlobalSession> RecordingFactory::createGlobalSession(
    std::shared_ptr<Kest::ViewerRegistrar> viewers, std::shared_ptr<Kest::PluginRegistrar> plugins)
{
    m_journal->add(L"createGlobalSession");
    globalViewers = viewers;
    globalPlugins = plugins;
    global = std::make_shared<RecordingGlobalSession>(viewers, plugins, m_journal, script);
    return global;
}

void ModuleFixture::SetUp()
{
    ASSERT_TRUE(log.ready());
    control().reset();
    product = std::make_unique<BusDouble::RawBusPeer>();
    if (makesModuleAtSetUp())
        makeModule();
}

void ModuleFixture::TearDown()
{
    if (module)
        module->uninitialize();
    destroyModule();
}

void ModuleFixture::makeModule(bool uninitializeFirst)
{
    m_nextId = 1;
    bus = std::make_shared<Ostrand::MessageBusClient>();
    factory = std::make_shared<RecordingFactory>(journal);
    viewers = std::make_shared<RecordingViewerRegistrar>(bus, journal);
    plugins = std::make_shared<RecordingPluginRegistrar>(journal);
    module = std::make_unique<Kest::SentrelImpl>(viewers, plugins, factory, clock);
    ASSERT_EQ(MODULE_STATUS_SUCCESS,
              module->baseInitialize(kModuleName, L"", {},
                                     std::make_shared<Ostrand::internal::ModuleManagerShim>(nullptr, nullptr), bus));
    if (uninitializeFirst) {
        ASSERT_EQ(MODULE_STATUS_SUCCESS, module->uninitialize());
    }
    ASSERT_EQ(MODULE_STATUS_SUCCESS, module->initialize());
}

void ModuleFixture::destroyModule()
{
    module.reset();
    if (factory)
        factory->global.reset();
}

uint32_t ModuleFixture::waitForHandled(const std::wstring& name, size_t count)
{
    std::vector<BusDouble::JournalEntry> delivered;
    const bool arrived = TestSupport::waitUntil([&] {
        delivered.clear();
        BusDouble::JournalEntry entry{};
        for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
            if (entry.call == BusDouble::Call::DeliverMessage && name == entry.name)
                delivered.push_back(entry);
        }
        return delivered.size() >= count;
    });
    if (arrived)
        return delivered.back().status;
    ADD_FAILURE() << "never delivered: " << TestSupport::narrow(name);
    return MODULE_STATUS_TIMEOUT;
}

size_t ModuleFixture::journalCount(BusDouble::Call call, const std::wstring& name)
{
    size_t count = 0;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
        if (entry.call == call && name == entry.name)
            ++count;
    }
    return count;
}

std::vector<std::wstring> ModuleFixture::journalNames(BusDouble::Call call)
{
    std::vector<std::wstring> names;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; control().journalEntry(i, &entry); ++i) {
        if (entry.call == call)
            names.push_back(entry.name);
    }
    return names;
}

uint64_t ModuleFixture::send(const std::wstring& name, const std::wstring& payload)
{
    const uint64_t index = m_nextReply++;
    // Long enough that a request the module never answers is still pending
    // when the test ends.
    EXPECT_EQ(MODULE_STATUS_SUCCESS, product->request(name, payload, 600000, index)) << TestSupport::narrow(name);
    return index;
}

BusDouble::RawBusPeer::Answer ModuleFixture::answer()
{
    BusDouble::RawBusPeer::Answer answer;
    EXPECT_TRUE(product->waitForAnswer(answer)) << "no answer came";
    return answer;
}

std::wstring ModuleFixture::ask(const std::wstring& name, const std::wstring& payload)
{
    const uint64_t index = send(name, payload);
    const auto got = answer();
    EXPECT_EQ(index, got.replyIndex) << "the answer of another request came first";
    EXPECT_EQ(MODULE_STATUS_SUCCESS, got.status);
    return got.reply.name;
}

std::wstring ModuleFixture::askPayload(const std::wstring& name, const std::wstring& payload)
{
    const uint64_t index = send(name, payload);
    const auto got = answer();
    EXPECT_EQ(index, got.replyIndex);
    return got.reply.payload;
}

void ModuleFixture::takeIdsUntil(uint32_t next)
{
    while (m_nextId < next) {
        ASSERT_EQ(std::to_wstring(m_nextId), askPayload(L"Sentrel.Alert.GetId"));
        ++m_nextId;
    }
}

std::wstring ModuleFixture::showRequest(const std::wstring& alertId, const std::wstring& instanceId,
                                        uint32_t sessionId)
{
    Kest::AlertInfo info;
    info.alertId = alertId;
    info.instanceId = instanceId;
    info.sessionId = sessionId;
    info.product = L"prod";
    return Kest::AlertInfo::toJson(info);
}

} // namespace SentrelTest

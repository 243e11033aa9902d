#pragma once
// What the tests of the alert service's module object share: registrars and
// sessions that record what the module asks of them, a clock the test sets,
// and a fixture that runs the module on the bus double with a product peer.
#include "LogFile.h"
#include "Logging/CLoggingIf.h"
#include "RawBusPeer.h"

#include "alert/AlertInfo.h"
#include "message/MessageBusClient.h"
#include "module/SentrelImpl.h"
#include "plugin/PluginRegistrar.h"
#include "session/AlertGlobalSession.h"
#include "session/AlertSessionFactory.h"
#include "viewer/ViewerRegistrar.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace SentrelTest {

// Lines that any thread adds, read back in order.
class Journal {
public:
    void add(const std::wstring& line);
    std::vector<std::wstring> lines() const;
    size_t count(const std::wstring& line) const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::wstring> m_lines;
};

class RecordingViewerRegistrar : public Kest::ViewerRegistrar {
public:
    RecordingViewerRegistrar(std::shared_ptr<Ostrand::MessageBus> bus, std::shared_ptr<Journal> journal);
    void start() override;
    void stop() override;

private:
    std::shared_ptr<Journal> m_journal;
};

class RecordingPluginRegistrar : public Kest::PluginRegistrar {
public:
    explicit RecordingPluginRegistrar(std::shared_ptr<Journal> journal);
    void start() override;
    void stop() override;

private:
    std::shared_ptr<Journal> m_journal;
};

// What a session double does with the alerts it is given: the alert ids it
// suppresses, and the instance ids it finds when asked to delete.
struct SessionScript {
    std::mutex mutex;
    std::set<std::wstring> suppressedAlertIds;
    std::set<std::wstring> deletableInstances;
    // Called inside queueAlert before it answers (to hold the executor).
    std::function<void(const Kest::AlertInfo&)> onQueue;
    // Called inside deleteAlert before it answers.
    std::function<void(const std::wstring& instanceId)> onDelete;
    // Called by a user session's destructor.
    std::function<void()> onDestroy;
    // The factory makes no user session.
    bool noUserSessions = false;
};

// Journal lines: "<name> queue <alert id> <instance id>",
// "<name> delete <instance id> <alert id>", "<name> destroyed".
class RecordingUserSession : public Kest::AlertSession {
public:
    RecordingUserSession(uint32_t sessionId, std::shared_ptr<Journal> journal, std::shared_ptr<SessionScript> script);
    ~RecordingUserSession() override;
    void queueAlert(std::shared_ptr<Kest::Alert> alert, bool& suppressed) override;
    bool deleteAlert(const std::wstring& instanceId, const std::wstring& alertId) override;

private:
    std::wstring m_name;
    std::shared_ptr<Journal> m_journal;
    std::shared_ptr<SessionScript> m_script;
};

class RecordingGlobalSession : public Kest::AlertGlobalSession {
public:
    RecordingGlobalSession(std::shared_ptr<Kest::ViewerRegistrar> viewers,
                           std::shared_ptr<Kest::PluginRegistrar> plugins, std::shared_ptr<Journal> journal,
                           std::shared_ptr<SessionScript> script);
    void queueAlert(std::shared_ptr<Kest::Alert> alert, bool& suppressed) override;
    bool deleteAlert(const std::wstring& instanceId, const std::wstring& alertId) override;
    bool isEmpty() override;

    std::atomic<bool> empty{true};

private:
    std::shared_ptr<Journal> m_journal;
    std::shared_ptr<SessionScript> m_script;
};

// Journal lines: "createGlobalSession", "createUserSession <id>"; every
// session it makes shares the factory's script.
class RecordingFactory : public Kest::AlertSessionFactory {
public:
    explicit RecordingFactory(std::shared_ptr<Journal> journal);
    std::shared_ptr<Kest::AlertSession> createUserSession(uint32_t sessionId,
                                                          std::shared_ptr<Kest::ViewerRegistrar> viewers,
                                                          std::shared_ptr<Kest::PluginRegistrar> plugins,
                                                          std::shared_ptr<Kest::AlertGlobalSession> global) override;
    std::shared_ptr<Kest::AlertGlobalSession> createGlobalSession(
        std::shared_ptr<Kest::ViewerRegistrar> viewers, std::shared_ptr<Kest::PluginRegistrar> plugins) override;

    std::shared_ptr<SessionScript> script = std::make_shared<SessionScript>();
    std::shared_ptr<RecordingGlobalSession> global;
    std::shared_ptr<Kest::ViewerRegistrar> globalViewers;
    std::shared_ptr<Kest::PluginRegistrar> globalPlugins;

private:
    std::shared_ptr<Journal> m_journal;
};

class TestClock : public Kest::SystemClock {
public:
    int64_t now() const override { return ticks.load(); }
    void advanceMinutes(int64_t minutes) { ticks += minutes * 60 * 10000000LL; }
    // Some day in 2026.
    std::atomic<int64_t> ticks{17700000000000000LL};
};

// The module, initialised on a bus connection of its own, and a product
// that asks it things through another connection.
class ModuleFixture : public ::testing::Test {
protected:
    static constexpr const wchar_t* kModuleName = L"SentrelUnderTest";

    void SetUp() override;
    void TearDown() override;
    virtual bool makesModuleAtSetUp() const { return true; }

    // The module as the host drives it up to initialize; with
    // `uninitializeFirst` the host's uninitialize comes before it.
    void makeModule(bool uninitializeFirst = false);
    void destroyModule();

    static BusDouble::BusDoubleControl& control() { return BusDouble::RawBusPeer::control(); }
    // Waits until the bus double delivered `count` messages of that name to
    // the module, and answers the status of the last.
    uint32_t waitForHandled(const std::wstring& name, size_t count = 1);
    size_t journalCount(BusDouble::Call call, const std::wstring& name);
    std::vector<std::wstring> journalNames(BusDouble::Call call);

    // Sends a request; the index identifies its answer.
    uint64_t send(const std::wstring& name, const std::wstring& payload = std::wstring());
    // The next answer; fails the test when none comes.
    BusDouble::RawBusPeer::Answer answer();
    // Sends and waits for the answer; the reply's name, or "" on failure.
    std::wstring ask(const std::wstring& name, const std::wstring& payload = std::wstring());
    std::wstring askPayload(const std::wstring& name, const std::wstring& payload = std::wstring());
    // Asks for ids until the next one to be handed out is `next`.
    void takeIdsUntil(uint32_t next);

    static std::wstring showRequest(const std::wstring& alertId, const std::wstring& instanceId,
                                    uint32_t sessionId = 0);

    // Made first: nothing may log before it.
    TestSupport::LogFile log;
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    std::shared_ptr<TestClock> clock = std::make_shared<TestClock>();
    std::shared_ptr<Ostrand::MessageBusClient> bus;
    std::shared_ptr<RecordingFactory> factory;
    std::shared_ptr<RecordingViewerRegistrar> viewers;
    std::shared_ptr<RecordingPluginRegistrar> plugins;
    std::unique_ptr<Kest::SentrelImpl> module;
    std::unique_ptr<BusDouble::RawBusPeer> product;
    uint64_t m_nextReply = 1;
    uint32_t m_nextId = 1;
};

} // namespace SentrelTest

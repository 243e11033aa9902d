// The bus library loader: the signed bus double beside this program, found,
// trusted and opened by a default client; the failures of its table and
// handle; and the order in which it lets go.
#include "LibraryFiles.h"
#include "RawBusPeer.h"

#include "LogFile.h"
#include "WaitUntil.h"
#include "WaitableCounter.h"

#include "dll/MessageBusLib.h"
#include "dll/ModuleException.h"
#include "message/MessageBusClient.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using BusDouble::Call;
using BusDouble::RawBusPeer;
using Ostrand::MessageBusLib;
using namespace std::chrono_literals;

const std::wstring kTimerLine = L"K7QPerfTimer|MessageBusLib::MessageBusLib|";

TEST(MessageBusLib, LooksBesideTheProgramThenInTheFrameworkFolder)
{
    EXPECT_EQ(L"Ondrel.dll", Ostrand::defaultBusLibrary.name);
    EXPECT_EQ((std::vector<std::wstring>{L"$(App.Folder)", L"$(Strova.InstallDir)"}),
              Ostrand::defaultBusLibrary.searchPaths);
}

TEST(MessageBusLib, ADefaultClientTalksToAnotherConnectionOnTheBus)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    Ostrand::MessageBusClient client;
    TestSupport::WaitableCounter received;
    ASSERT_EQ(0u, client.subscribe(L"Library.Test", [&received](std::shared_ptr<Ostrand::Message> message) -> uint32_t {
        if (message->payload() == L"from the peer")
            received.increment();
        return 0;
    }));
    RawBusPeer peer;
    peer.subscribe(L"Library.Answer");
    ASSERT_EQ(0u, peer.publish(L"Library.Test", L"peer", L"from the peer"));
    ASSERT_TRUE(received.waitFor(1, TestSupport::kGenerousWait));
    ASSERT_EQ(0u, client.publish(Ostrand::Message::create(L"Library.Answer", L"client", L"from the client")));
    RawBusPeer::Delivery delivery;
    ASSERT_TRUE(peer.waitForDelivery(delivery));
    EXPECT_EQ(L"from the client", delivery.payload);
    EXPECT_EQ(2u, RawBusPeer::control().openConnections());
    EXPECT_TRUE(log.contains(1, L"Loading Ondrel.dll from "));
    EXPECT_TRUE(log.contains(1, kTimerLine));
}

// How often the validation double was asked to vouch for a file: the trust
// check of each load of the bus library.
DWORD validationCalls()
{
    using JournalFn = void (*)(DWORD*, DWORD*, wchar_t*, char*);
    HMODULE module = GetModuleHandleW(L"Drellin.dll");
    auto journal = module ? reinterpret_cast<JournalFn>(
                                reinterpret_cast<void*>(GetProcAddress(module, "DrellinDoubleJournal")))
                          : nullptr;
    DWORD calls = 0;
    if (journal)
        journal(&calls, nullptr, nullptr, nullptr);
    return calls;
}

// Every connection has its own handle, but a library a checked load has
// already mapped is neither checked nor mapped again while a connection
// still uses it; once the last one goes it is unloaded, and the next
// connection checks and loads it afresh.
TEST(MessageBusLib, ConnectionsOfAProcessShareTheLoadedLibraryWhileOneLives)
{
    RawBusPeer::control().reset();
    DWORD checks = 0;
    {
        Ostrand::MessageBusClient first;
        ASSERT_EQ(1u, RawBusPeer::control().openConnections());
        checks = validationCalls();
        ASSERT_NE(0u, checks) << "the bus library was not checked by the validation double";
        {
            Ostrand::MessageBusClient second;
            EXPECT_EQ(2u, RawBusPeer::control().openConnections());
        }
        Ostrand::MessageBusClient third;
        EXPECT_EQ(2u, RawBusPeer::control().openConnections());
        EXPECT_EQ(checks, validationCalls());
    }
    EXPECT_EQ(0u, RawBusPeer::control().openConnections());
    Ostrand::MessageBusClient later;
    EXPECT_EQ(checks + 1, validationCalls());
}

std::vector<Call> callsOf(uint64_t connection)
{
    std::vector<Call> calls;
    BusDouble::JournalEntry entry{};
    for (uint32_t i = 0; RawBusPeer::control().journalEntry(i, &entry); ++i)
        if (entry.connection == connection)
            calls.push_back(entry.call);
    return calls;
}

// Records when the bus library is let go, against the double's journal.
class WatchedLoader : public Ostrand::DllLoader {
public:
    bool freeDLL(HMODULE module) override
    {
        journalAtFree = RawBusPeer::control().journalSize();
        return Ostrand::DllLoader::freeDLL(module);
    }
    uint32_t journalAtFree = 0;
};

TEST(MessageBusLib, LetsGoByDetachingThenReleasingThenUnloading)
{
    RawBusPeer::control().reset();
    auto loader = std::make_shared<WatchedLoader>();
    auto bus = std::make_unique<MessageBusLib>(
        std::make_shared<Ostrand::SharedLibrary>(Ostrand::defaultBusLibrary, loader), nullptr);
    BusDouble::JournalEntry opened{};
    ASSERT_TRUE(RawBusPeer::control().journalEntry(0, &opened));
    ASSERT_EQ(Call::GetHandle, opened.call);
    bus.reset();
    EXPECT_EQ((std::vector<Call>{Call::GetHandle, Call::DetachReplyCallback, Call::Release}),
              callsOf(opened.connection));
    EXPECT_EQ(RawBusPeer::control().journalSize(), loader->journalAtFree) << "unloaded before the release";
    EXPECT_EQ(0u, RawBusPeer::control().openConnections());
}

// The library is found and loaded, but gives no bus: the constructor throws,
// the timer line is written all the same, and the library is let go.
struct OpenFailure {
    const char* label;
    bool noTable; // a family library that knows no bus table, else the bus double refusing a handle
    const char* exception;
    const wchar_t* line;
};

class OpenFailureCase : public ::testing::TestWithParam<OpenFailure> {};

TEST_P(OpenFailureCase, ThrowsAndLeavesNothingOpen)
{
    const OpenFailure& c = GetParam();
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    LibraryTests::LibraryFolder folder;
    std::wstring path;
    std::shared_ptr<Ostrand::SharedLibrary> library;
    if (c.noTable) {
        const std::wstring name = LibraryTests::uniqueLibraryName(L"notable");
        path = folder.install(L"family-signed.dll", name);
        library = std::make_shared<Ostrand::SharedLibrary>(Ostrand::LibraryDescriptor{name, {folder.path()}});
    } else {
        RawBusPeer::control().reset();
        RawBusPeer::control().setGetHandleStatus(MODULE_STATUS_UNSUCCESSFUL);
    }
    try {
        MessageBusLib bus(std::move(library), nullptr);
        FAIL() << "opened";
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ(c.exception, error.what());
    }
    EXPECT_EQ(1u, log.find({4, L"MessageBusLib", L"Ostrand::MessageBusLib::MessageBusLib", c.line}).size());
    EXPECT_TRUE(log.contains(1, kTimerLine));
    if (c.noTable)
        EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str()));
    else
        EXPECT_EQ(0u, RawBusPeer::control().openConnections());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenFailureCase,
    ::testing::Values(OpenFailure{"NoTable", true, "Failed to get message bus functions object",
                                  L"Failed to get message bus functions object. Throwing ModuleException."},
                      OpenFailure{"HandleRefused", false, "Failed to get message bus handle",
                                  L"Failed to get message bus handle. Error code: "
                                  L"MODULE_STATUS_UNSUCCESSFUL(2147483650). Throwing ModuleException."}),
    [](const ::testing::TestParamInfo<OpenFailure>& info) { return std::string(info.param.label); });

// The bus double hands out its table with one entry null: refused as no
// table at all, before any entry is called.
class TableHoleCase : public ::testing::TestWithParam<uint32_t> {
protected:
    void SetUp() override
    {
        RawBusPeer::control().reset();
        RawBusPeer::control().setTableHole(GetParam());
    }
    // The double's own peers read the same table: whole again at once.
    void TearDown() override { RawBusPeer::control().setTableHole(BusDouble::kNoTableHole); }
};

TEST_P(TableHoleCase, IsRefusedAsAnUnusableLibrary)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    try {
        MessageBusLib bus(nullptr, nullptr);
        FAIL() << "opened";
    } catch (const Ostrand::ModuleException& error) {
        EXPECT_STREQ("Failed to get message bus functions object", error.what());
    }
    RawBusPeer::control().setTableHole(BusDouble::kNoTableHole);
    EXPECT_EQ(1u, log.find({4, L"MessageBusLib", L"Ostrand::MessageBusLib::MessageBusLib",
                            L"Failed to get message bus functions object. Throwing ModuleException."})
                      .size());
    EXPECT_TRUE(log.contains(1, kTimerLine));
    EXPECT_EQ(0u, RawBusPeer::control().journalSize()) << "an entry was called";
    EXPECT_EQ(0u, RawBusPeer::control().openConnections());
}

INSTANTIATE_TEST_SUITE_P(Entries, TableHoleCase, ::testing::Range(0u, 10u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                             return "Entry" + std::to_string(info.param);
                         });

// A library whose table says a handle was opened but hands none out.
MODULE_STATUS openWithoutHandle(void** handle)
{
    *handle = nullptr;
    return MODULE_STATUS_SUCCESS;
}

// Every other entry is the double's: the table is whole.
MessageBusFunctions noHandleTableOverTheDouble()
{
    MessageBusFunctions table = RawBusPeer::table();
    table.getHandle = openWithoutHandle;
    return table;
}

const void* noHandleTable(uint32_t)
{
    static const MessageBusFunctions table = noHandleTableOverTheDouble();
    return &table;
}

class NoHandleLibrary : public Ostrand::SharedLibrary {
public:
    explicit NoHandleLibrary(const std::wstring& folder)
        : SharedLibrary(Ostrand::LibraryDescriptor{L"pretend.dll", {folder}},
                        std::make_shared<LibraryTests::PretendLoader>())
    {
        m_exports.createObject = reinterpret_cast<void*>(&noHandleTable);
    }
    const Ostrand::LibraryExports* getFunctions() const override { return &m_exports; }

private:
    Ostrand::LibraryExports m_exports;
};

TEST(MessageBusLib, AHandleReportedOpenButNotHandedOutIsRefused)
{
    TestSupport::LogFile log;
    ASSERT_TRUE(log.ready());
    TestSupport::ScratchFolder folder;
    folder.write(L"pretend.dll", "not a library");
    EXPECT_THROW(MessageBusLib(std::make_shared<NoHandleLibrary>(folder.path()), nullptr), Ostrand::ModuleException);
    EXPECT_TRUE(log.contains(4, L"Failed to get message bus handle. Error code: MODULE_STATUS_INVALID_HANDLE("));
}

} // namespace

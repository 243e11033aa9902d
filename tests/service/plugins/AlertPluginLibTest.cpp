// One product's plugin host over the plugin double: loading from the
// registration, the calls and who owns their outputs, failures, reloads.
#include "PluginTestSupport.h"

#include "plugin/AlertPluginLib.h"

#include "ModuleStatus.h"
#include "TestNames.h"

#include <windows.h>

#include <functional>

namespace {

using Kest::AlertPluginLib;
using Kest::PluginState;
using PluginDouble::Entry;
using PluginTest::kAlertJson;

class AlertPluginLibTest : public PluginTest::PluginFixture {
protected:
    std::unique_ptr<AlertPluginLib> host(const std::wstring& productId = L"P")
    {
        return std::make_unique<AlertPluginLib>(productId, nullptr, settings);
    }
    MODULE_STATUS process(AlertPluginLib& plugin)
    {
        return plugin.processAlert(kAlertJson, outJson, &suppress, extra);
    }

    std::wstring outJson = L"before";
    std::wstring extra = L"before";
    uint32_t suppress = 0;
};

bool mapped(const std::wstring& path)
{
    return GetModuleHandleW(path.c_str()) != nullptr;
}

TEST_F(AlertPluginLibTest, FirstCallLoadsTheRegisteredLibraryAndLaterCallsUseItsOneInstance)
{
    const std::wstring path = registerPlugin(L"P", folder, L"productplugin.dll");
    {
        auto host = this->host();
        ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
        EXPECT_EQ(kAlertJson, outJson) << "the double returns its input unchanged";
        EXPECT_EQ(L"", extra);
        EXPECT_EQ(0u, suppress);
        std::wstring content;
        ASSERT_EQ(MODULE_STATUS_SUCCESS, host->getAlertContent(kAlertJson, L"Toast", content));
        EXPECT_EQ(L"content for Toast", content);
        EXPECT_TRUE(mapped(path));
        EXPECT_EQ(1u, registrationReads(L"P"));

        const std::vector<std::wstring> expected = {
            L"CreateObject",       L"CreatePluginInstance", L"ProcessAlert",     L"ProcessAlert.end",
            L"FreeProcessAlertResult", L"GetAlertContent",  L"GetAlertContent.end", L"FreeAlertContent"};
        EXPECT_EQ(expected, plugin.sequence());
        EXPECT_EQ(L"2000000", plugin.calls(L"CreateObject").at(0).details);
        EXPECT_EQ(L"AlertPlugin|#1", plugin.calls(L"CreatePluginInstance").at(0).details);
        EXPECT_EQ(std::wstring(L"#1|flag=0|") + kAlertJson, plugin.calls(L"ProcessAlert").at(0).details);
        EXPECT_EQ(std::wstring(L"#1|Toast|") + kAlertJson, plugin.calls(L"GetAlertContent").at(0).details);
        EXPECT_EQ(L"ok", plugin.calls(L"FreeProcessAlertResult").at(0).details);
        EXPECT_EQ(L"ok", plugin.calls(L"FreeAlertContent").at(0).details);
        EXPECT_EQ(L"productplugin.dll", plugin.calls(L"CreateObject").at(0).file);
    }
    EXPECT_EQ(L"#1", plugin.calls(L"DestroyPluginInstance").at(0).details) << "the instance goes with the host";
    EXPECT_FALSE(mapped(path)) << "and the library with it";

    const wchar_t* load = L"Kest::AlertPluginLib::load";
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::processAlert",
                            L"Processing alert. Plugin for P in state UNLOADED."));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::verifyState",
                            L"Plugin for P is in state UNLOADED. Attempting to reload."));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::unload", L"Changing state of plugin for P to UNLOADED."));
    EXPECT_EQ(1u, hostLines(1, load, L"Changing state of plugin for P to LOADED."));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::getAlertContent",
                            L"Getting alert content. Plugin for P in state LOADED."));
    EXPECT_EQ(0u, hostLines(4, L"", L"")) << "no error on the way";
}

TEST_F(AlertPluginLibTest, ThePluginSuppressesRewritesAndWritesContentPerViewer)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    plugin.suppress(true);
    plugin.rewriteJson(L"{\"id\":\"{A1}\",\"priority\":1}");
    plugin.extra(L"suppressed by rule 7");
    plugin.content(L"<b>{viewer}</b> \u00e9t\u00e9");
    auto host = this->host();

    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    EXPECT_EQ(1u, suppress);
    EXPECT_EQ(L"{\"id\":\"{A1}\",\"priority\":1}", outJson);
    EXPECT_EQ(L"suppressed by rule 7", extra);

    for (const wchar_t* viewer : {L"Toast", L"Banner"}) {
        std::wstring content;
        ASSERT_EQ(MODULE_STATUS_SUCCESS, host->getAlertContent(kAlertJson, viewer, content));
        EXPECT_EQ(L"<b>" + std::wstring(viewer) + L"</b> \u00e9t\u00e9", content);
    }

    // Outputs may be empty texts.
    plugin.rewriteJson(L"");
    plugin.extra(L"");
    plugin.content(L"");
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    EXPECT_EQ(L"", outJson);
    EXPECT_EQ(L"", extra);
    std::wstring content = L"before";
    ASSERT_EQ(MODULE_STATUS_SUCCESS, host->getAlertContent(kAlertJson, L"Toast", content));
    EXPECT_EQ(L"", content);
    for (const Entry& entry : plugin.journal())
        if (entry.call.rfind(L"Free", 0) == 0) {
            EXPECT_EQ(L"ok", entry.details) << entry.call;
        }
    EXPECT_EQ(2u, plugin.calls(L"FreeProcessAlertResult").size());
    EXPECT_EQ(3u, plugin.calls(L"FreeAlertContent").size());
}

// After a failure the outputs are the plugin's business: neither read nor
// handed back. The suppress flag is the caller's and is read whatever the status.
TEST_F(AlertPluginLibTest, AFailedCallPassesItsCodeThroughAndLeavesTheOutputsAlone)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    plugin.processStatus(0x80000006u);
    plugin.contentStatus(0x1234u);
    plugin.suppress(true);
    auto host = this->host();

    EXPECT_EQ(0x80000006u, process(*host));
    EXPECT_EQ(L"before", outJson);
    EXPECT_EQ(L"before", extra);
    EXPECT_EQ(1u, suppress);
    std::wstring content = L"before";
    EXPECT_EQ(0x1234u, host->getAlertContent(kAlertJson, L"Toast", content));
    EXPECT_EQ(L"before", content);

    EXPECT_TRUE(plugin.calls(L"FreeProcessAlertResult").empty());
    EXPECT_TRUE(plugin.calls(L"FreeAlertContent").empty());
    EXPECT_EQ(1u, plugin.calls(L"CreateObject").size()) << "a failing call is no reason to reload";
}

// Whatever an entry throws is a failed call of that entry's operation: its
// status, its line, nothing of its outputs taken, the suppress flag as it was,
// and the plugin still loaded for the next call.
TEST_F(AlertPluginLibTest, AnEntryThatThrowsFailsItsCallAndTheNextCallWorks)
{
    using Throw = PluginDouble::Control::Throw;
    const struct {
        const wchar_t* entry;
        Throw what;
        bool processing; // the entry belongs to processAlert, else to getAlertContent
        const char* thrown;
    } cases[] = {
        {L"ProcessAlert", Throw::Standard, true, "plugin double failed on purpose"},
        {L"ProcessAlert", Throw::NonStandard, true, "an exception of unknown type"},
        {L"FreeProcessAlertResult", Throw::Standard, true, "plugin double failed on purpose"},
        {L"FreeProcessAlertResult", Throw::NonStandard, true, "an exception of unknown type"},
        {L"GetAlertContent", Throw::Standard, false, "plugin double failed on purpose"},
        {L"GetAlertContent", Throw::NonStandard, false, "an exception of unknown type"},
        {L"FreeAlertContent", Throw::Standard, false, "plugin double failed on purpose"},
        {L"FreeAlertContent", Throw::NonStandard, false, "an exception of unknown type"},
    };
    registerPlugin(L"P", folder, L"productplugin.dll");
    // It asks to suppress, then throws: the word of a call that failed does not count.
    plugin.suppress(true);
    auto host = this->host();
    size_t round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << TestSupport::narrow(c.entry) << " " << c.thrown);
        ++round;
        plugin.throwFrom(c.entry, c.what);
        outJson = extra = L"before";
        suppress = 0;
        std::wstring content = L"before";
        const MODULE_STATUS status =
            c.processing ? process(*host) : host->getAlertContent(kAlertJson, L"Toast", content);
        EXPECT_EQ(MODULE_STATUS_UNKNOWN_EXCEPTION, status);
        EXPECT_EQ(L"before", c.processing ? outJson : content);
        if (c.processing) {
            EXPECT_EQ(L"before", extra);
        }
        EXPECT_EQ(0u, suppress);
        const std::wstring line = L"Call of " + std::wstring(c.entry) + L" for product P threw: " +
                                  TestSupport::widen(c.thrown) + L". Failing the call.";
        EXPECT_EQ(1u, hostLines(4,
                                c.processing ? L"Kest::AlertPluginLib::processAlert"
                                             : L"Kest::AlertPluginLib::getAlertContent",
                                line));

        plugin.throwFrom(L"");
        EXPECT_EQ(MODULE_STATUS_SUCCESS, process(*host));
        EXPECT_EQ(1u, suppress);
        EXPECT_EQ(MODULE_STATUS_SUCCESS, host->getAlertContent(kAlertJson, L"Toast", content));
        EXPECT_EQ(L"content for Toast", content);
    }
    EXPECT_EQ(1u, plugin.calls(L"CreateObject").size()) << "a throwing call is no reason to reload";

    // Thrown while the instance goes: logged, and the instance is forgotten all the same.
    plugin.throwFrom(L"DestroyPluginInstance", Throw::NonStandard);
    host.reset();
    EXPECT_EQ(1u, hostLines(4, L"Kest::AlertPluginLib::destroyInstance",
                            L"Call of DestroyPluginInstance for product P threw: an exception of unknown type."));
}

// What a plugin wrote before it threw is still its own to free: the instance
// goes back through DestroyPluginInstance, the texts through their free entry.
TEST_F(AlertPluginLibTest, AnInstanceOrOutputsHandedOverBeforeAThrowGoBackToThePlugin)
{
    using Throw = PluginDouble::Control::Throw;
    const struct {
        const wchar_t* entry;
        Throw what;
        const wchar_t* freedBy;
    } cases[] = {
        {L"CreatePluginInstance", Throw::Standard, L"DestroyPluginInstance"},
        {L"CreatePluginInstance", Throw::NonStandard, L"DestroyPluginInstance"},
        {L"ProcessAlert", Throw::Standard, L"FreeProcessAlertResult"},
        {L"ProcessAlert", Throw::NonStandard, L"FreeProcessAlertResult"},
        {L"GetAlertContent", Throw::Standard, L"FreeAlertContent"},
        {L"GetAlertContent", Throw::NonStandard, L"FreeAlertContent"},
    };
    registerPlugin(L"P", folder, L"productplugin.dll");
    for (const auto& c : cases) {
        SCOPED_TRACE(TestSupport::narrow(c.entry) + (c.what == Throw::Standard ? " std" : " int"));
        const size_t freedBefore = plugin.calls(c.freedBy).size();
        const size_t createdBefore = plugin.calls(L"CreatePluginInstance").size();
        auto host = this->host();
        plugin.throwAfterHandingOut(c.entry, c.what);
        std::wstring content = L"before";
        const bool contentCall = std::wstring(c.entry) == L"GetAlertContent";
        EXPECT_NE(MODULE_STATUS_SUCCESS,
                  contentCall ? host->getAlertContent(kAlertJson, L"Toast", content) : process(*host));
        EXPECT_EQ(L"before", content);

        const std::vector<Entry> freed = plugin.calls(c.freedBy);
        EXPECT_EQ(freedBefore + 1, freed.size()) << "what the plugin handed over before it threw was not freed";
        if (freed.size() != freedBefore + 1) {
            // Nothing more to compare in this case.
        } else if (std::wstring(c.entry) == L"CreatePluginInstance") {
            const std::vector<Entry> created = plugin.calls(L"CreatePluginInstance");
            ASSERT_EQ(createdBefore + 1, created.size());
            // "AlertPlugin|#n" then "#n": the very instance it wrote.
            const std::wstring& made = created.back().details;
            EXPECT_EQ(made.substr(made.rfind(L'|') + 1), freed.back().details);
        } else {
            EXPECT_EQ(L"ok", freed.back().details) << "texts the plugin never handed out were freed";
        }
        plugin.throwFrom(L"");
        host.reset();
    }
}

// A plugin that breaks the contract with null outputs after success gets
// empty texts, not a crash; its pointers still go back to it.
TEST_F(AlertPluginLibTest, NullOutputsAfterSuccessReadAsEmptyTexts)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    plugin.nullOutputs(true);
    auto host = this->host();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    EXPECT_EQ(L"", outJson);
    EXPECT_EQ(L"", extra);
    std::wstring content = L"before";
    ASSERT_EQ(MODULE_STATUS_SUCCESS, host->getAlertContent(kAlertJson, L"Toast", content));
    EXPECT_EQ(L"", content);
    EXPECT_EQ(1u, plugin.calls(L"FreeProcessAlertResult").size());
    EXPECT_EQ(1u, plugin.calls(L"FreeAlertContent").size());
}

TEST_F(AlertPluginLibTest, ANullSuppressFlagIsRefusedBeforeThePluginIsLoaded)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    auto host = this->host();
    EXPECT_EQ(MODULE_STATUS_INVALID_PARAMETER, host->processAlert(kAlertJson, outJson, nullptr, extra));
    EXPECT_TRUE(plugin.journal().empty());
    EXPECT_EQ(1u, hostLines(4, L"Kest::AlertPluginLib::processAlert", L"Invalid suppress flag specified. Returning."));
}

enum class Fault {
    RegistrationMissing,
    SettingsRefuse,
    NotJson,
    JsonArray,
    NoPluginFile,
    PluginFileNotString,
    NoPluginPath,
    LibraryMissing,
    LibraryUnsigned,
    FileOutsideTheFolder,
    CreateObjectNull,
    TableWithHole,
    InstanceRefused,
};

struct LoadFailure {
    const char* label;
    Fault fault;
    MODULE_STATUS expected;
    const wchar_t* function; // of the case's error line
    std::wstring line;
    bool instanceFailureLine; // "Failed to create alert plugin instance." follows it
};

std::ostream& operator<<(std::ostream& out, const LoadFailure& c)
{
    return out << c.label;
}

const std::wstring kKey = L"Sentrel/Product/P";
const wchar_t kLoad[] = L"Kest::AlertPluginLib::load";
const wchar_t kCreate[] = L"Kest::AlertPluginLib::createInstance";

class LoadFailureTest : public AlertPluginLibTest, public ::testing::WithParamInterface<LoadFailure> {
protected:
    void arrange(Fault fault)
    {
        switch (fault) {
        case Fault::RegistrationMissing:
            break;
        case Fault::SettingsRefuse:
            registerPlugin(L"P", folder, L"productplugin.dll");
            peer.service().setFault(SettingsPeer::Fault::Refuse);
            break;
        case Fault::NotJson:
            seed(L"plugin.dll");
            break;
        case Fault::JsonArray:
            seed(L"[\"a\",\"b\"]");
            break;
        case Fault::NoPluginFile:
            seed(L"{\"pluginPath\":\"C:\\\\x\"}");
            break;
        case Fault::PluginFileNotString:
            seed(L"{\"pluginFile\":5,\"pluginPath\":\"x\"}");
            break;
        case Fault::NoPluginPath:
            seed(L"{\"pluginFile\":\"p.dll\"}");
            break;
        case Fault::LibraryMissing:
            seed(registration(folder.path(), L"gone.dll"));
            break;
        case Fault::LibraryUnsigned:
            PluginDouble::Control::install(folder.path(), L"unsigned.dll", false);
            seed(registration(folder.path(), L"unsigned.dll"));
            break;
        case Fault::FileOutsideTheFolder: {
            // A signed plugin, but named by a path that leaves the registered folder.
            PluginDouble::Control::install(folder.path(), L"outside.dll", true);
            const std::wstring inner = folder.path() + L"\\inner";
            CreateDirectoryW(inner.c_str(), nullptr);
            seed(registration(inner, L"..\\outside.dll"));
            break;
        }
        case Fault::CreateObjectNull:
            registerPlugin(L"P", folder, L"productplugin.dll");
            plugin.refuseCreateObject();
            break;
        case Fault::TableWithHole:
            registerPlugin(L"P", folder, L"productplugin.dll");
            plugin.tableWithHole();
            break;
        case Fault::InstanceRefused:
            registerPlugin(L"P", folder, L"productplugin.dll");
            plugin.createInstanceStatus(0x8000000Cu);
            break;
        }
    }
    void seed(const std::wstring& value) { peer.service().seed(kKey, value); }
};

// Every call retries the load, so each line comes twice for two calls.
TEST_P(LoadFailureTest, IsLoggedAndAnsweredWithItsCodeAtEveryCall)
{
    const LoadFailure& c = GetParam();
    arrange(c.fault);
    {
        auto host = this->host();
        EXPECT_EQ(c.expected, process(*host));
        EXPECT_EQ(L"before", outJson);
        std::wstring content = L"before";
        EXPECT_EQ(c.expected, host->getAlertContent(kAlertJson, L"Toast", content));
        EXPECT_EQ(L"before", content);
    }
    EXPECT_EQ(2u, hostLines(4, c.function, c.line));
    EXPECT_EQ(c.instanceFailureLine ? 2u : 0u, hostLines(4, kLoad, L"Failed to create alert plugin instance."));
    EXPECT_EQ(1u, hostLines(4, L"Kest::AlertPluginLib::processAlert",
                            L"Failed to verify the plugin state for product: P"));
    EXPECT_EQ(1u, hostLines(4, L"Kest::AlertPluginLib::getAlertContent",
                            L"Failed to verify the plugin state for product: P"));
    EXPECT_EQ(0u, hostLines(1, kLoad, L"Changing state of plugin for P to LOADED."));
    EXPECT_EQ(2u, hostLines(1, L"Kest::AlertPluginLib::verifyState",
                            L"Plugin for P is in state UNLOADED. Attempting to reload."));
    EXPECT_TRUE(plugin.calls(L"ProcessAlert").empty());
    EXPECT_TRUE(plugin.calls(L"DestroyPluginInstance").empty()) << "no instance was left behind";
}

const std::wstring kLibraryRefused = L"Failed create SharedLibrary for plugin: P. Exception: Failed to load library.";

INSTANTIATE_TEST_SUITE_P(
    AlertPluginLib, LoadFailureTest,
    ::testing::Values(
        LoadFailure{"RegistrationMissing", Fault::RegistrationMissing, MODULE_STATUS_BUFFER_TOO_SMALL, kLoad,
                    L"Failed to get pluginDefinition from settings Manager. Key " + kKey, false},
        LoadFailure{"SettingsRefuse", Fault::SettingsRefuse, MODULE_STATUS_BUFFER_TOO_SMALL, kLoad,
                    L"Failed to get pluginDefinition from settings Manager. Key " + kKey, false},
        LoadFailure{"NotJson", Fault::NotJson, MODULE_STATUS_UNSUCCESSFUL, kLoad,
                    L"Failed to parse plugin definition Key: " + kKey + L", Value: plugin.dll. ", false},
        LoadFailure{"JsonArray", Fault::JsonArray, MODULE_STATUS_UNSUCCESSFUL, kLoad,
                    L"Failed to parse plugin definition Key: " + kKey + L", Value: [\"a\",\"b\"]. ", false},
        LoadFailure{"NoPluginFile", Fault::NoPluginFile, MODULE_STATUS_UNSUCCESSFUL, kLoad,
                    L"Failed to parse pluginFile from: {\"pluginPath\":\"C:\\\\x\"}", false},
        LoadFailure{"PluginFileNotString", Fault::PluginFileNotString, MODULE_STATUS_UNSUCCESSFUL, kLoad,
                    L"Failed to parse pluginFile from: {\"pluginFile\":5,\"pluginPath\":\"x\"}", false},
        LoadFailure{"NoPluginPath", Fault::NoPluginPath, MODULE_STATUS_UNSUCCESSFUL, kLoad,
                    L"Failed to parse pluginPath from: {\"pluginFile\":\"p.dll\"}", false},
        LoadFailure{"LibraryMissing", Fault::LibraryMissing, MODULE_STATUS_NOT_SUPPORTED, kLoad, kLibraryRefused, false},
        LoadFailure{"LibraryUnsigned", Fault::LibraryUnsigned, MODULE_STATUS_NOT_SUPPORTED, kLoad, kLibraryRefused,
                    false},
        LoadFailure{"FileOutsideTheFolder", Fault::FileOutsideTheFolder, MODULE_STATUS_NOT_SUPPORTED, kLoad,
                    kLibraryRefused, false},
        LoadFailure{"CreateObjectNull", Fault::CreateObjectNull, MODULE_STATUS_NOT_SUPPORTED, kCreate,
                    L"Failed to create object", true},
        LoadFailure{"TableWithHole", Fault::TableWithHole, MODULE_STATUS_NOT_SUPPORTED, kCreate,
                    L"Failed to create object", true},
        LoadFailure{"InstanceRefused", Fault::InstanceRefused, 0x8000000Cu, kCreate,
                    L"Failed to create instance of Alert Plugin. Error code: 2147483660", true}),
    [](const ::testing::TestParamInfo<LoadFailure>& info) { return std::string(info.param.label); });

TEST_F(AlertPluginLibTest, AFailedInstanceCreationIsTriedAgainWithTheWholeLoadAtTheNextCall)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    plugin.createInstanceStatus(0x1234u);
    auto host = this->host();
    EXPECT_EQ(0x1234u, process(*host));

    plugin.createInstanceStatus(0);
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    EXPECT_EQ(2u, registrationReads(L"P"));
    EXPECT_EQ(2u, plugin.calls(L"CreateObject").size());
    const auto created = plugin.calls(L"CreatePluginInstance");
    ASSERT_EQ(2u, created.size());
    EXPECT_EQ(L"AlertPlugin|failed", created[0].details);
    EXPECT_EQ(L"AlertPlugin|#1", created[1].details);
    EXPECT_EQ(L"#1", plugin.calls(L"ProcessAlert").at(0).details.substr(0, 2));
    EXPECT_EQ(1u, hostLines(4, L"Kest::AlertPluginLib::createInstance",
                            L"Failed to create instance of Alert Plugin. Error code: 4660"));
}

TEST_F(AlertPluginLibTest, AnInstanceThatFailsToGoIsOnlyLoggedAndForgotten)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    plugin.destroyInstanceStatus(7);
    {
        auto host = this->host();
        ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
        // A reload destroys the old instance and carries on with a new one.
        host->setState(PluginState::INVALIDATED);
        ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
        EXPECT_EQ(L"#2", plugin.calls(L"ProcessAlert").at(1).details.substr(0, 2));
    }
    const auto destroyed = plugin.calls(L"DestroyPluginInstance");
    ASSERT_EQ(2u, destroyed.size());
    EXPECT_EQ(L"#1", destroyed[0].details);
    EXPECT_EQ(L"#2", destroyed[1].details);
    EXPECT_EQ(2u, hostLines(2, L"Kest::AlertPluginLib::destroyInstance",
                            L"Failed to destroy alert plugin instance. Product: P. Error code: 7."));
}

TEST_F(AlertPluginLibTest, AfterInvalidationTheNextCallReloadsTheLibraryRegisteredByThen)
{
    TestSupport::ScratchFolder second;
    const std::wstring first = registerPlugin(L"P", folder, L"firstplugin.dll");
    auto host = this->host();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    ASSERT_TRUE(mapped(first));

    host->setState(PluginState::INVALIDATED);
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::setState",
                            L"Changing state of plugin for P to INVALIDATED."));
    EXPECT_TRUE(plugin.calls(L"DestroyPluginInstance").empty()) << "the instance lives on while invalidated";
    const std::wstring next = registerPlugin(L"P", second, L"secondplugin.dll");

    std::wstring content;
    ASSERT_EQ(MODULE_STATUS_SUCCESS, host->getAlertContent(kAlertJson, L"Toast", content));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::getAlertContent",
                            L"Getting alert content. Plugin for P in state INVALIDATED."));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::verifyState",
                            L"Plugin for P is in state INVALIDATED. Attempting to reload."));
    EXPECT_EQ(2u, registrationReads(L"P"));
    const auto journal = plugin.journal();
    std::vector<std::wstring> calls;
    for (const Entry& entry : journal)
        calls.push_back(entry.file + L" " + entry.call);
    const std::vector<std::wstring> expected = {
        L"firstplugin.dll CreateObject",         L"firstplugin.dll CreatePluginInstance",
        L"firstplugin.dll ProcessAlert",         L"firstplugin.dll ProcessAlert.end",
        L"firstplugin.dll FreeProcessAlertResult", L"firstplugin.dll DestroyPluginInstance",
        L"secondplugin.dll CreateObject",        L"secondplugin.dll CreatePluginInstance",
        L"secondplugin.dll GetAlertContent",     L"secondplugin.dll GetAlertContent.end",
        L"secondplugin.dll FreeAlertContent"};
    EXPECT_EQ(expected, calls);
    EXPECT_FALSE(mapped(first)) << "the old library went when the new one replaced it";
    EXPECT_TRUE(mapped(next));
}

TEST_F(AlertPluginLibTest, AnyStateButLoadedMakesTheNextCallReload)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    auto host = this->host();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    host->setState(static_cast<PluginState>(7));
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::setState", L"Changing state of plugin for P to UNKNOWN."));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::verifyState",
                            L"Plugin for P is in state UNKNOWN. Attempting to reload."));
    EXPECT_EQ(2u, plugin.calls(L"CreatePluginInstance").size());
}

// Gone for good: every later call tries again and answers the load's code,
// until a registration is back.
TEST_F(AlertPluginLibTest, AReloadWithoutARegistrationFailsUntilOneIsBack)
{
    registerPlugin(L"P", folder, L"productplugin.dll");
    auto host = this->host();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    ASSERT_TRUE(settings->removeProperty(AlertPluginLib::productKey(L"P"), PluginTest::kTimeout));
    host->setState(PluginState::INVALIDATED);

    EXPECT_EQ(MODULE_STATUS_BUFFER_TOO_SMALL, process(*host));
    EXPECT_EQ(MODULE_STATUS_BUFFER_TOO_SMALL, process(*host));
    EXPECT_EQ(1u, hostLines(1, L"Kest::AlertPluginLib::verifyState",
                            L"Plugin for P is in state INVALIDATED. Attempting to reload."));
    EXPECT_EQ(2u, hostLines(1, L"Kest::AlertPluginLib::verifyState",
                            L"Plugin for P is in state UNLOADED. Attempting to reload."))
        << "the first load and the call after the failed reload, which left it unloaded";
    EXPECT_EQ(1u, plugin.calls(L"DestroyPluginInstance").size());

    registerPlugin(L"P", folder, L"productplugin.dll");
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    EXPECT_EQ(2u, plugin.calls(L"ProcessAlert").size());
}

// A second load from outside while loaded replaces the library: the old
// instance must go before the library that holds its code.
TEST_F(AlertPluginLibTest, LoadingAgainWhileLoadedDestroysTheOldInstanceFirst)
{
    TestSupport::ScratchFolder second;
    const std::wstring first = registerPlugin(L"P", folder, L"firstplugin.dll");
    auto host = this->host();
    ASSERT_EQ(MODULE_STATUS_SUCCESS, host->load());
    registerPlugin(L"P", second, L"secondplugin.dll");
    plugin.createInstanceStatus(0x55u);
    EXPECT_EQ(0x55u, host->load());
    EXPECT_FALSE(mapped(first));
    EXPECT_EQ(L"#1", plugin.calls(L"DestroyPluginInstance").at(0).details);

    // Still marked loaded, but without an instance: the next call reloads.
    plugin.createInstanceStatus(0);
    ASSERT_EQ(MODULE_STATUS_SUCCESS, process(*host));
    EXPECT_EQ(L"secondplugin.dll", plugin.calls(L"ProcessAlert").at(0).file);
}

} // namespace

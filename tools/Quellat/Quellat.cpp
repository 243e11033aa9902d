// Entry point of the registration tool: writes or removes one product plugin
// or viewer registration in the settings service and, after a removal, waits
// briefly for the alert service's notice. Reports only through the log and
// the exit code.
#include "CommandLineParser.h"
#include "MessageWatcher.h"
#include "SecureDllLoading.h"

#include "Logging/Log.h"
#include "json/JSONFormatter.h"
#include "message/MessageBusClient.h"
#include "settings/SettingsManagerClient.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t kSource[] = L"Quellat";
const wchar_t kFunction[] = L"wmain";

const wchar_t kHelp[] = L"?";
const wchar_t kRegisterProduct[] = L"registerProduct";
const wchar_t kUnregisterProduct[] = L"unregisterProduct";
const wchar_t kRegisterViewer[] = L"registerViewer";
const wchar_t kUnregisterViewer[] = L"unregisterViewer";
const wchar_t kPluginPath[] = L"pluginPath";
const wchar_t kPluginFile[] = L"pluginFile";

const wchar_t kProductKeyPrefix[] = L"Sentrel/Product";
const wchar_t kViewerKeyPrefix[] = L"Sentrel/Viewer";
const wchar_t kProductNoticePrefix[] = L"Sentrel.Product";
const wchar_t kViewerNoticePrefix[] = L"Sentrel.Viewer";
const wchar_t kUnregisteredSuffix[] = L"Unregistered";

const std::chrono::milliseconds kSettingsTimeout(5000);
const int64_t kConfirmationWaitMs = 1000;

enum ExitCode : int { kSuccess = 0, kFailed = 1, kBadArguments = 2, kNoBus = 3 };

const std::vector<CommandLineFlag> kFlags = {
    {kHelp, L"Display helpful information about the command line flags."},
    {kRegisterProduct, L"Register a product plugin. Specify a unique identifier for the plugin. The 'pluginPath' "
                       L"and 'pluginFile' flags are required if this flag is specified."},
    {kUnregisterProduct, L"Unregister a product plugin. Specify the unique identifier for the plugin."},
    {kRegisterViewer, L"Register a viewer. Specify a unique identifier for the plugin."},
    {kUnregisterViewer, L"Unregister a viewer. Specify the unique identifier for the plugin."},
    {kPluginPath, L"The path to the product plugin. Kest placeholders can be used."},
    {kPluginFile, L"The filename of the product plugin."},
};

// The command flags, first taking precedence over the others whatever
// their order on the command line.
const wchar_t* const kCommands[] = {kRegisterProduct, kUnregisterProduct, kRegisterViewer, kUnregisterViewer};

// The settings key of a product's or a viewer's registration.
std::wstring registrationKey(const wchar_t* prefix, const std::wstring& id)
{
    return std::wstring(prefix) + L"/" + id;
}

void logError(const wchar_t* text)
{
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction, L"%ls", text);
}

int registerProduct(Ostrand::SettingsManagerClient& settings, const CommandLineParser& parser)
{
    const std::wstring key = registrationKey(kProductKeyPrefix, parser.value(kRegisterProduct));
    // Stored as typed: the service expands placeholders when it loads the plugin.
    Ostrand::JSONFormatter record;
    record.setString(kPluginPath, parser.value(kPluginPath));
    record.setString(kPluginFile, parser.value(kPluginFile));
    if (!settings.setProperty(key, record.toString(), kSettingsTimeout)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction,
                L"Failed to store product registration information in the settings manager. Product: %ls.",
                key.c_str());
        return kFailed;
    }
    return kSuccess;
}

int registerViewer(Ostrand::SettingsManagerClient& settings, const CommandLineParser& parser)
{
    const std::wstring key = registrationKey(kViewerKeyPrefix, parser.value(kRegisterViewer));
    if (!settings.setProperty(key, L"{}", kSettingsTimeout)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction,
                L"Failed to store viewer registration information in the settings manager. Viewer: %ls.",
                key.c_str());
        return kFailed;
    }
    return kSuccess;
}

// What differs between removing a product and removing a viewer.
struct Removal {
    const wchar_t* keyPrefix;
    const wchar_t* noticePrefix;
    const wchar_t* failedFormat;
    const wchar_t* unconfirmedText;
};

const Removal kProductRemoval = {
    kProductKeyPrefix, kProductNoticePrefix,
    L"Failed to remove product registration information in the settings manager. Product: %ls",
    L"Did not receive product unregister confirmation. Plugin may not be unloaded."};
const Removal kViewerRemoval = {
    kViewerKeyPrefix, kViewerNoticePrefix,
    L"Failed to remove viewer registration information in the settings manager. Viewer: %ls",
    L"Did not receive viewer unregister confirmation. Plugin may not be unloaded."};

int unregister(const std::shared_ptr<Ostrand::MessageBus>& bus, Ostrand::SettingsManagerClient& settings,
               const Removal& removal, const std::wstring& id)
{
    const std::wstring key = registrationKey(removal.keyPrefix, id);
    Kest::MessageWatcher watcher(bus);
    // Watched before the removal, so that a notice sent at once is not missed.
    watcher.watch(std::wstring(removal.noticePrefix) + L"." + id + L"." + kUnregisteredSuffix);
    if (!settings.removeProperty(key, kSettingsTimeout)) {
        ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction, removal.failedFormat, key.c_str());
        return kFailed;
    }
    if (!watcher.waitFor(kConfirmationWaitMs))
        ETW_LOG(ETWLogging::LOG_LEVEL_WARNING, kSource, kFunction, L"%ls", removal.unconfirmedText);
    return kSuccess;
}

// Characters as a reader counts them: a surrogate pair is one.
size_t characterCount(const std::wstring& text)
{
    size_t count = 0;
    for (size_t i = 0; i < text.size(); ++i, ++count)
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF)
            ++i;
    return count;
}

// The service learns of a registration's changes only through settings
// notices matched against its prefix subscriptions; the bus matches no name
// past its limit, so a registration whose notices would be longer could be
// stored but never followed: it is refused before anything is stored.
bool deliverable(const wchar_t* command, const CommandLineParser& parser)
{
    const wchar_t* prefix = command == kRegisterProduct ? kProductKeyPrefix
                            : command == kRegisterViewer ? kViewerKeyPrefix
                                                         : nullptr;
    if (!prefix)
        return true; // a removal: what is stored can always be removed
    const std::wstring id = parser.value(command);
    const std::wstring key = registrationKey(prefix, id);
    if (Ostrand::SettingsManagerClient::noticesMatchable(key))
        return true;
    ETW_LOG(ETWLogging::LOG_LEVEL_ERROR, kSource, kFunction,
            L"Invalid command line. The id of %zu characters is too long: the settings notices for %ls would have "
            L"%zu UTF-16 code units, and the bus matches none longer than %zu. Nothing is stored.",
            characterCount(id), prefix, Ostrand::SettingsManagerClient::longestNoticeName(key),
            Ostrand::MessageBusClient::kLongestMatchedName);
    return false;
}

const wchar_t* firstCommand(const CommandLineParser& parser)
{
    for (const wchar_t* command : kCommands)
        if (parser.has(command))
            return command;
    return nullptr;
}

int runCommand(const wchar_t* command, const CommandLineParser& parser)
{
    std::shared_ptr<Ostrand::MessageBus> bus;
    std::shared_ptr<Ostrand::SettingsManagerClient> settings;
    try {
        bus = std::make_shared<Ostrand::MessageBusClient>();
        settings = std::make_shared<Ostrand::SettingsManagerClient>(bus);
    } catch (...) {
        logError(L"Failed to create message bus connection. Exception caught.");
        return kNoBus;
    }
    if (command == kRegisterProduct)
        return registerProduct(*settings, parser);
    if (command == kRegisterViewer)
        return registerViewer(*settings, parser);
    if (command == kUnregisterProduct)
        return unregister(bus, *settings, kProductRemoval, parser.value(kUnregisterProduct));
    return unregister(bus, *settings, kViewerRemoval, parser.value(kUnregisterViewer));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Every system library but kernel32 is bound on first use: nothing may
    // reach one before the search is restricted. Not even the log: writing a
    // line reads the registry, which would bind advapi32 through the very
    // search that could not be restricted, the program's folder first.
    if (!enableSecureDllLoading())
        return kFailed;
    CommandLineParser parser(kFlags);
    if (!parser.parse(argc, argv)) {
        logError(L"Failed to parse arguments.");
        return kBadArguments;
    }
    if (parser.has(kHelp))
        return kSuccess;

    // The command line is judged whole before any connection is opened, so
    // that a wrong one is reported as such also where no bus is available.
    const wchar_t* command = firstCommand(parser);
    if (!command) {
        logError(L"Invalid command line arguments.");
        return kBadArguments;
    }
    if (command == kRegisterProduct && (!parser.has(kPluginPath) || !parser.has(kPluginFile))) {
        logError(L"Invalid command line. The 'pluginPath' and 'pluginFile' flags must be provided if registering a "
                 L"product.");
        return kBadArguments;
    }
    if (!deliverable(command, parser))
        return kBadArguments;
    try {
        return runCommand(command, parser);
    } catch (...) {
        logError(L"Failed to change the registration in the settings manager. Exception caught.");
        return kFailed;
    }
}

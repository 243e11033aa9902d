// settings_service.exe <store file>: the settings service on the bus, its
// properties loaded from the store file at start and written back after
// every change, so that registrations outlive the run. Ends when its
// standard input closes. Exit codes: 0 ended, 2 bad command line or store
// file, 3 no bus, 4 the store could not be written.
#include "BrokerWait.h"
#include "ConsoleLine.h"
#include "InputEnd.h"
#include "SettingsServicePeer.h"
#include "SettingsStoreFile.h"

#include <windows.h>

#include <exception>
#include <memory>

using PeerProgram::say;

namespace {

void reportChanges(const SettingsPeer::SettingsStoreFile::Contents& before,
                   const SettingsPeer::SettingsStoreFile::Contents& after)
{
    for (const auto& entry : after) {
        const auto old = before.find(entry.first);
        if (old == before.end() || old->second != entry.second)
            say(L"settings: stored " + entry.first + L" = " + entry.second);
    }
    for (const auto& entry : before) {
        if (after.find(entry.first) == after.end())
            say(L"settings: removed " + entry.first);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        say(L"usage: settings_service <store file>");
        return 2;
    }
    const SettingsPeer::SettingsStoreFile store(argv[1]);
    SettingsPeer::SettingsStoreFile::Contents saved;
    if (!store.load(saved)) {
        say(L"settings: the store " + store.path() + L" is not a JSON object of texts");
        return 2;
    }
    auto service = std::make_shared<SettingsPeer::SettingsService>();
    for (const auto& entry : saved)
        service->seed(entry.first, entry.second);

    if (!PeerProgram::waitForBroker()) {
        say(L"settings: the broker does not listen");
        return 3;
    }
    std::unique_ptr<SettingsPeer::SettingsServicePeer> peer;
    try {
        peer = std::make_unique<SettingsPeer::SettingsServicePeer>(service);
    } catch (const std::exception& error) {
        say(L"settings: no bus: " + PeerProgram::wide(error.what()));
        return 3;
    }
    say(L"settings: " + std::to_wstring(saved.size()) + L" properties loaded from " + store.path());
    for (const auto& entry : saved)
        say(L"settings:   " + entry.first + L" = " + entry.second);

    const PeerProgram::InputEnd input;
    int result = 0;
    // The peer has no change callback; the store is small, so comparing it
    // ten times a second is cheap and keeps the file at most that far behind.
    for (bool last = false; !last;) {
        last = input.ended();
        const SettingsPeer::SettingsStoreFile::Contents now = service->contents();
        if (now != saved) {
            reportChanges(saved, now);
            if (!store.save(now)) {
                say(L"settings: cannot write " + store.path());
                result = 4;
            }
            saved = now;
        }
        if (!last)
            Sleep(100);
    }
    peer.reset();
    return result;
}

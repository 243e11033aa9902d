#pragma once
// A broker for the length of a test: started beside the test program under a
// pipe name of its own, and named in ONDREL_BROKER_PIPE so that every bus
// connection opened from then on, in this process and in the processes it
// starts, goes through it. The destructor takes the variable away and ends
// the broker.
#include "BrokerPipe.h"

#include <windows.h>

#include <string>

namespace BusBroker {

// A file in the running program's folder, where the broker program is put.
std::wstring besideThisProgram(const std::wstring& file);

class BusBrokerFixture {
public:
    // An empty name picks one unique to this test and process; a
    // `maxUnreadBytes` of 0 keeps the broker's own limit. Throws
    // std::runtime_error when the broker does not start listening.
    explicit BusBrokerFixture(const std::wstring& pipeName = L"", size_t maxUnreadBytes = 0);
    ~BusBrokerFixture();
    BusBrokerFixture(const BusBrokerFixture&) = delete;
    BusBrokerFixture& operator=(const BusBrokerFixture&) = delete;

    const std::wstring& pipeName() const { return m_pipeName; }
    // False once the broker process has ended.
    bool running() const;

private:
    std::wstring m_pipeName;
    OwnedHandle m_process;
    OwnedHandle m_input; // the broker's standard input: closing it ends the broker
};

} // namespace BusBroker

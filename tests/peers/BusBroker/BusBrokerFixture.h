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

const wchar_t* const kBrokerPipeVariable = L"ONDREL_BROKER_PIPE";

class BusBrokerFixture {
public:
    // An empty name picks one unique to this test and process. Throws
    // std::runtime_error when the broker does not start listening.
    explicit BusBrokerFixture(const std::wstring& pipeName = L"");
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

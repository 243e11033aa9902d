#pragma once
// What the tests of showing alerts share: log lines and telemetry read back,
// the bus double in real time, and alerts made from a few fields.
#include "LogFile.h"
#include "Logging/CLoggingIf.h"
#include "RawBusPeer.h"
#include "TelemetryServerFixture.h"
#include "alert/AlertInfo.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace ShowingTest {

using Record = std::map<std::wstring, std::wstring>;

class ShowingFixture : public ::testing::Test {
protected:
    void SetUp() override;

    static BusDouble::BusDoubleControl& control() { return BusDouble::RawBusPeer::control(); }
    static std::vector<BusDouble::JournalEntry> journal(BusDouble::Call call, const std::wstring& name = L"");
    // Every event of that id sent so far, oldest first.
    std::vector<Record> events(const std::wstring& id) const;

    // Made first: nothing may log before it.
    TestSupport::LogFile log;
    TestSupport::TelemetryServerFixture telemetry;
};

Kest::AlertInfo makeInfo(const std::wstring& alertId, const std::wstring& instanceId, uint32_t sessionId = 0,
                         int32_t priority = 3);

// A context object with the members the duplicate test compares.
std::wstring makeContext(const std::wstring& title, const std::wstring& defaultContent,
                         const std::wstring& detailsContent, const std::vector<std::wstring>& actionTexts);

} // namespace ShowingTest

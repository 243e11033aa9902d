// Factory mode: a machine still in its out-of-box setup when the service
// starts asks the suite's log collector for logs when one of the at-risk
// alerts is queued within the first hour after the setup ends.
#include "module/SentrelImpl.h"

#include "module/ArmedWatchKey.h"

#include "json/JSONFormatter.h"

#include "Logging/Log.h"
#include "Registry/CRegKey.h"
#include "Registry/monitored_reg_key.h"

#include <cwctype>

namespace Kest {

namespace {
const wchar_t kSource[] = L"SentrelImpl";
const wchar_t kOemKey[] = L"SOFTWARE\\Corvane\\VLX\\OEM";
const REGSAM kOemKeyAccess = 0x2001F;
const wchar_t kFactoryUpdateValue[] = L"FUAllow";
const wchar_t kOobeDoneValue[] = L"oobedone";
// Name and value changes.
const DWORD kOemNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;
const int64_t kTicksPerSecond = 10000000;

bool readOobeDone(Halvex::CRegKey& key, DWORD& value)
{
    return key.Open(HKEY_LOCAL_MACHINE, kOemKey, kOemKeyAccess) == ERROR_SUCCESS &&
           key.QueryDWORDValue(kOobeDoneValue, value) == ERROR_SUCCESS;
}
} // namespace

const std::vector<std::wstring>& SentrelImpl::riskAlertIds()
{
    static const std::vector<std::wstring> ids = {
        L"4BF486E5-B05F-4D6D-AA39-EEBEEF38DAE1", L"1538568B-8381-49E0-93BA-99AD8FA44D23",
        L"EA43011F-C341-4759-8BCB-EFCB84CE94B3", L"B1EB23ED-5B27-4f1c-821A-40683741768F"};
    return ids;
}

void SentrelImpl::detectFactoryMode()
{
    Halvex::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kOemKey, kOemKeyAccess) != ERROR_SUCCESS)
        return;
    DWORD factoryUpdate = 0;
    if (key.QueryDWORDValue(kFactoryUpdateValue, factoryUpdate) != ERROR_SUCCESS)
        return;
    DWORD oobeDone = 0;
    if (key.QueryDWORDValue(kOobeDoneValue, oobeDone) != ERROR_SUCCESS || oobeDone != 0)
        return;
    m_oobeDone.store(oobeDone);

    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::SentrelImpl::detectFactoryMode",
            L"Machine is in OOBE Mode");
    m_oobeMode = true;
    // A value written between the read above and the watch's arming would
    // otherwise be missed for good.
    m_registryMonitor = std::make_shared<Halvex::monitored_reg_key>(
        std::make_shared<ArmedWatchKey>([this]() { onOobeRegistryChange(); }));
    if (m_registryMonitor->open(HKEY_LOCAL_MACHINE, kOemKey, kOemKeyAccess) == ERROR_SUCCESS)
        m_registryMonitor->start([this]() { onOobeRegistryChange(); }, false, kOemNotifyFilter);
}

void SentrelImpl::onOobeRegistryChange()
{
    Halvex::CRegKey key;
    DWORD value = 0;
    if (!readOobeDone(key, value))
        return;
    if (m_oobeDone.load() != 0 || value == 0)
        return;
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::SentrelImpl::onOobeRegistryChange",
            L"Got Notification of OOBE Registry Change");
    m_oobeCompletionTime.store(m_clock->now());
    m_oobeDone.store(value);
}

bool SentrelImpl::isRiskAlertId(const std::wstring& alertId) const
{
    for (const std::wstring& id : riskAlertIds()) {
        if (id.size() != alertId.size())
            continue;
        bool same = true;
        for (size_t i = 0; same && i < id.size(); ++i)
            same = std::towupper(id[i]) == std::towupper(alertId[i]);
        if (same)
            return true;
    }
    return false;
}

void SentrelImpl::CollectLogsForRiskAlert(const std::wstring& alertId)
{
    if (!m_oobeMode)
        return;
    // The window opens only when the setup ends.
    const int64_t completed = m_oobeCompletionTime.load();
    if (completed == 0 || m_clock->now() - completed >= m_riskWindowSeconds * kTicksPerSecond)
        return;
    if (!isRiskAlertId(alertId))
        return;
    ETW_LOG(ETWLogging::LOG_LEVEL_INFORMATION, kSource, L"Kest::SentrelImpl::CollectLogsForRiskAlert",
            L"Got alertid: %s request within 1hr of OOBE", alertId.c_str());
    Ostrand::JSONFormatter payload;
    payload.setString(L"Problem", L"SR_ATRiskAlert_Request");
    payload.setString(L"coolingperiod", L"");
    payload.setString(L"throttlingpercent", L"1");
    payload.setString(L"logstocollect", L"2");
    publish(Ostrand::Message::create(L"sustainability.collect.logs", getName(), payload.toString()));
}

} // namespace Kest

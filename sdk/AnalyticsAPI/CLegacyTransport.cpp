#include "AnalyticsAPI/CLegacyTransport.h"

#include "AnalyticsAPI/internal/ComApartmentGuard.h"
#include "TelemetryServer.h"
#include "trust/TrustLoad.h"

#include <oleauto.h>

#include <cstring>

namespace Ostrand {
namespace Analytics {

namespace {

bool IsNullGuid(const CLSID& id)
{
    static const CLSID zero{};
    return std::memcmp(&id, &zero, sizeof zero) == 0;
}

// A server whose code is signed by a trusted signer is preferred; any other
// registered server is still used, through plain COM creation.
ITelemetryRecordSink* CreateSink(const CLSID& classId)
{
    void* object = nullptr;
    const HRESULT trusted = TrustCoCreateInstance(classId, nullptr, TELEMETRY_SERVER_CONTEXT, IID_ITelemetryRecordSink,
                                                  &object, TRUE);
    if (SUCCEEDED(trusted) && object)
        return static_cast<ITelemetryRecordSink*>(object);
    // A class registered for none of the contexts is no more registered for
    // plain creation: that attempt, on the road of every event, is spared.
    if (trusted == REGDB_E_CLASSNOTREG)
        return nullptr;
    object = nullptr;
    if (FAILED(CoCreateInstance(classId, nullptr, TELEMETRY_SERVER_CONTEXT, IID_ITelemetryRecordSink, &object)))
        return nullptr;
    return static_cast<ITelemetryRecordSink*>(object);
}

// Owns a COM string; SysAllocString of an empty text still gives a string.
class ComString {
public:
    explicit ComString(const wchar_t* text) : m_value(SysAllocString(text)) {}
    ~ComString() { SysFreeString(m_value); }
    ComString(const ComString&) = delete;
    ComString& operator=(const ComString&) = delete;
    BSTR get() const { return m_value; }

private:
    BSTR m_value;
};

} // namespace

CLegacyTransport::CLegacyTransport(const CLSID& classId)
    : CBaseTransport(L"Legacy", 1), m_classId(IsNullGuid(classId) ? CLSID_TelemetryServer : classId),
      m_formatter(new CJSONFormatter())
{
}

bool CLegacyTransport::IsAvailable()
{
    internal::ComApartmentGuard apartment;
    ITelemetryRecordSink* sink = CreateSink(m_classId);
    if (!sink)
        return false;
    sink->Release();
    return true;
}

bool CLegacyTransport::Send(const DimensionMap& dimensions)
{
    if (!m_formatter)
        return false;
    internal::ComApartmentGuard apartment;
    ITelemetryRecordSink* sink = CreateSink(m_classId);
    if (!sink)
        return false;

    bool sent = false;
    try {
        std::wstring json;
        if (m_formatter->Format(dimensions, json)) {
            ComString before(L""), record(json.c_str()), after(L"");
            // A string the system could not allocate is a failed send, not a thrown error.
            if (before.get() && record.get() && after.get())
                sent = sink->SendRecord(before.get(), record.get(), after.get()) >= 0;
        }
    } catch (...) {
        sent = false;
    }
    sink->Release();
    return sent;
}

} // namespace Analytics
} // namespace Ostrand

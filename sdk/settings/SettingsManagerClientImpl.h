#pragma once
#include "settings/SettingsManagerClient.h"

#include "json/JSONFormatter.h"

#include <functional>
#include <vector>

namespace Ostrand {

// What every request of the client shares: sending it, checking the reply
// and reading its members, and turning text into typed values.
class SettingsManagerClient::Impl {
public:
    explicit Impl(std::shared_ptr<MessageBus> bus);

    MessageBus& bus() { return *m_bus; }

    // Sends the document as a request; the bus status, with `reply` set when it is 0.
    uint32_t sendRequest(const wchar_t* messageName, const JSONFormatter& request, const Timeout& timeout,
                         std::shared_ptr<Reply>& reply);

    // One single-property request: sent, awaited, parsed and checked to name
    // `expected`. A bus failure is logged with `requestFailure` (a format
    // taking the status name and number) from `function`.
    bool requestSingle(const wchar_t* messageName, const JSONFormatter& request, const std::wstring& expected,
                       const Timeout& timeout, const wchar_t* function, const wchar_t* requestFailure,
                       JSONFormatter& response);
    // Waits for the reply of a single-property request and parses it.
    bool getSettingPropertyResponse(const std::shared_ptr<Reply>& reply, JSONFormatter& response);
    // Waits for the reply of a list request and parses it.
    bool getSettingPropertyResponseList(const std::shared_ptr<Reply>& reply, JSONFormatter& response);
    // The reply's entries; a missing "responses" member gives none.
    static bool readResponses(const JSONFormatter& response, std::vector<JSONFormatter>& entries);

    static bool verifyPropertyName(const JSONFormatter& response, const std::wstring& expected);
    // "status" true; a missing or false one is logged, false with `refused`.
    static bool readConfirmation(const JSONFormatter& response, const wchar_t* function, const wchar_t* refused);
    // "status" true and "value" a string; `value` is set only then.
    static bool getPropertyValue(const JSONFormatter& response, std::wstring& value);

    bool setProperty(const JSONFormatter& request, const Timeout& timeout);
    ResultMap setProperties(const PropertyMap& properties, bool isVolatile, const Timeout& timeout);
    bool sendSetPropertiesRequest(const JSONFormatter& request, const Timeout& timeout, JSONFormatter& response);

    // The entries of a set or remove reply, one result each. With
    // `requestedOnly` a name that is not a key of `result` is logged with
    // `unexpected` and ignored; without it every name confirmed is added.
    // `refused` (taking the name) logs an entry whose "status" is false.
    static void readStatusEntries(const std::vector<JSONFormatter>& entries, ResultMap& result, bool requestedOnly,
                                  const wchar_t* function, const wchar_t* unexpected, const wchar_t* refused);

    // Runs a conversion of text into a typed value; false, logged, when it throws.
    static bool tryConvert(const std::function<bool()>& conversion);

private:
    std::shared_ptr<MessageBus> m_bus;
};

} // namespace Ostrand

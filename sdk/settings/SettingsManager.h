#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Ostrand {

// The settings service as the rest of the system sees it: named properties
// whose values are text, read, written and removed one at a time, by list or
// by name prefix, and change notices delivered to callbacks. Every operation
// waits for the service's answer up to its time-out plus one second; none
// throws on a failure of the service, it answers false instead.
class SettingsManager {
public:
    using PropertyMap = std::unordered_map<std::wstring, std::wstring>;
    using ResultMap = std::unordered_map<std::wstring, bool>;
    using NameList = std::vector<std::wstring>;
    using Timeout = std::chrono::milliseconds;
    using NameCallback = std::function<void(const std::wstring& name)>;
    using NameValueCallback = std::function<void(const std::wstring& name, const std::wstring& value)>;

    virtual ~SettingsManager() = default;

    // Persistent sets; the typed forms write the value as text and call the text form.
    virtual bool setProperty(const std::wstring& name, double value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, uint32_t value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, uint64_t value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, unsigned long value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, int64_t value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, int value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, bool value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeout) = 0;
    virtual bool setProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeout) = 0;
    virtual ResultMap setProperties(const PropertyMap& properties, const Timeout& timeout) = 0;

    // Volatile sets: the service keeps the value only while it runs.
    virtual bool setVolatileProperty(const std::wstring& name, double value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, uint32_t value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, uint64_t value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, unsigned long value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, int64_t value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, int value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, bool value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeout) = 0;
    virtual bool setVolatileProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeout) = 0;
    virtual ResultMap setVolatileProperties(const PropertyMap& properties, const Timeout& timeout) = 0;

    // Reads; the typed forms convert the text and leave `value` alone when it does not convert.
    virtual bool getProperty(const std::wstring& name, double& value, const Timeout& timeout) = 0;
    virtual bool getProperty(const std::wstring& name, uint32_t& value, const Timeout& timeout) = 0;
    virtual bool getProperty(const std::wstring& name, uint64_t& value, const Timeout& timeout) = 0;
    virtual bool getProperty(const std::wstring& name, unsigned long& value, const Timeout& timeout) = 0;
    virtual bool getProperty(const std::wstring& name, int64_t& value, const Timeout& timeout) = 0;
    virtual bool getProperty(const std::wstring& name, int& value, const Timeout& timeout) = 0;
    virtual bool getProperty(const std::wstring& name, bool& value, const Timeout& timeout) = 0;
    virtual bool getProperty(const std::wstring& name, std::wstring& value, const Timeout& timeout) = 0;
    virtual ResultMap getProperties(const NameList& names, PropertyMap& values, const Timeout& timeout) = 0;
    virtual bool getPropertiesByPrefix(const NameList& prefixes, PropertyMap& values, const Timeout& timeout) = 0;
    virtual bool getPropertiesByPrefix(const std::wstring& prefix, PropertyMap& values, const Timeout& timeout) = 0;

    virtual bool removeProperty(const std::wstring& name, const Timeout& timeout) = 0;
    virtual ResultMap removeProperties(const NameList& names, const Timeout& timeout) = 0;
    virtual ResultMap removePropertiesByPrefix(const NameList& prefixes, const Timeout& timeout) = 0;
    virtual bool removePropertiesByPrefix(const std::wstring& prefix, const Timeout& timeout) = 0;

    // Change notices. The by-name forms last as long as the bus client; the
    // prefix forms until the same prefix is unsubscribed.
    virtual bool subscribePropertySet(NameCallback callback, const std::wstring& name) = 0;
    virtual bool subscribePropertySet(NameCallback callback) = 0;
    virtual bool subscribePropertySetByPrefix(NameValueCallback callback, const std::wstring& prefix) = 0;
    virtual bool unsubscribePropertySetByPrefix(const std::wstring& prefix) = 0;
    virtual bool subscribePropertyDeleteByPrefix(NameCallback callback, const std::wstring& prefix) = 0;
    virtual bool unsubscribePropertyDeleteByPrefix(const std::wstring& prefix) = 0;
    virtual bool subscribePropertyRemoved(NameCallback callback, const std::wstring& name) = 0;
    virtual bool subscribePropertyRemoved(NameCallback callback) = 0;
};

} // namespace Ostrand

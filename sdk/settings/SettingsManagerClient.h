#pragma once
#include "settings/SettingsManager.h"

#include "message/MessageBus.h"

#include <memory>

namespace Ostrand {

// The settings service over the bus: every operation is one JSON request and
// one JSON reply, nothing is cached, and the caller's thread waits for the
// answer. Notices are bus subscriptions of the client's bus client.
class SettingsManagerClient : public SettingsManager {
public:
    static constexpr const wchar_t* kSettingsNameKey = L"name";
    static constexpr const wchar_t* kSettingsValueKey = L"value";
    static constexpr const wchar_t* kSettingsVolatileKey = L"volatile";
    static constexpr const wchar_t* kSettingsIsPrefixKey = L"isPrefix";
    static constexpr const wchar_t* kSettingsStatusKey = L"status";
    static constexpr const wchar_t* kSettingsPropertiesKey = L"properties";
    static constexpr const wchar_t* kSettingsResponsesKey = L"responses";
    static constexpr const wchar_t* kSettingsDefaultSource = L"";

    static constexpr const wchar_t* kGetPropertyMessage = L"SETTINGS_MANAGER_GET_PROPERTY";
    static constexpr const wchar_t* kSetPropertyMessage = L"SETTINGS_MANAGER_SET_PROPERTY";
    static constexpr const wchar_t* kRemovePropertyMessage = L"SETTINGS_MANAGER_REMOVE_PROPERTY";
    static constexpr const wchar_t* kGetPropertiesMessage = L"SettingsManager.GetProperties.Request";
    static constexpr const wchar_t* kSetPropertiesMessage = L"SettingsManager.SetProperties.Request";
    static constexpr const wchar_t* kRemovePropertiesMessage = L"SettingsManager.RemoveProperties.Request";
    static constexpr const wchar_t* kPropertySetNotice = L"SETTINGS_MANAGER_PROPERTY_SET";
    static constexpr const wchar_t* kPropertyRemovedNotice = L"SETTINGS_MANAGER_PROPERTY_REMOVED";
    static constexpr const wchar_t* kNotifySetHead = L"SettingsManager.Notify.Set.";
    static constexpr const wchar_t* kNotifyDeleteHead = L"SettingsManager.Notify.Delete.";

    // The length of the longest prefix notice (set or delete) for the property.
    static size_t longestNoticeName(const std::wstring& name);
    // Whether the prefix notices for the property can reach a prefix
    // subscriber: the bus client matches no longer names against expressions.
    static bool noticesMatchable(const std::wstring& name);

    // Without a bus the client builds its own bus client, which loads the bus
    // library and throws ModuleException when it cannot.
    explicit SettingsManagerClient(std::shared_ptr<MessageBus> bus = nullptr);
    ~SettingsManagerClient() override;
    SettingsManagerClient(const SettingsManagerClient&) = delete;
    SettingsManagerClient& operator=(const SettingsManagerClient&) = delete;

    // A new client with a bus connection of its own; empty (and logged) when
    // it cannot be made. Never throws.
    static std::unique_ptr<SettingsManager> getInstance();

    bool setProperty(const std::wstring& name, double value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, uint32_t value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, uint64_t value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, unsigned long value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, int64_t value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, int value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, bool value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeout) override;
    bool setProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeout) override;
    ResultMap setProperties(const PropertyMap& properties, const Timeout& timeout) override;

    bool setVolatileProperty(const std::wstring& name, double value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, uint32_t value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, uint64_t value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, unsigned long value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, int64_t value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, int value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, bool value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, const wchar_t* value, const Timeout& timeout) override;
    bool setVolatileProperty(const std::wstring& name, const std::wstring& value, const Timeout& timeout) override;
    ResultMap setVolatileProperties(const PropertyMap& properties, const Timeout& timeout) override;

    bool getProperty(const std::wstring& name, double& value, const Timeout& timeout) override;
    bool getProperty(const std::wstring& name, uint32_t& value, const Timeout& timeout) override;
    bool getProperty(const std::wstring& name, uint64_t& value, const Timeout& timeout) override;
    bool getProperty(const std::wstring& name, unsigned long& value, const Timeout& timeout) override;
    bool getProperty(const std::wstring& name, int64_t& value, const Timeout& timeout) override;
    bool getProperty(const std::wstring& name, int& value, const Timeout& timeout) override;
    bool getProperty(const std::wstring& name, bool& value, const Timeout& timeout) override;
    bool getProperty(const std::wstring& name, std::wstring& value, const Timeout& timeout) override;
    ResultMap getProperties(const NameList& names, PropertyMap& values, const Timeout& timeout) override;
    bool getPropertiesByPrefix(const NameList& prefixes, PropertyMap& values, const Timeout& timeout) override;
    bool getPropertiesByPrefix(const std::wstring& prefix, PropertyMap& values, const Timeout& timeout) override;

    bool removeProperty(const std::wstring& name, const Timeout& timeout) override;
    ResultMap removeProperties(const NameList& names, const Timeout& timeout) override;
    ResultMap removePropertiesByPrefix(const NameList& prefixes, const Timeout& timeout) override;
    bool removePropertiesByPrefix(const std::wstring& prefix, const Timeout& timeout) override;

    bool subscribePropertySet(NameCallback callback, const std::wstring& name) override;
    bool subscribePropertySet(NameCallback callback) override;
    bool subscribePropertySetByPrefix(NameValueCallback callback, const std::wstring& prefix) override;
    bool unsubscribePropertySetByPrefix(const std::wstring& prefix) override;
    bool subscribePropertyDeleteByPrefix(NameCallback callback, const std::wstring& prefix) override;
    bool unsubscribePropertyDeleteByPrefix(const std::wstring& prefix) override;
    bool subscribePropertyRemoved(NameCallback callback, const std::wstring& name) override;
    bool subscribePropertyRemoved(NameCallback callback) override;

    // The bus handlers of the notices: 0 when the notice was handled or
    // ignored, MODULE_STATUS_DATA_ERROR when its payload was unusable.
    using NameFilter = std::function<bool(const std::wstring& name)>;
    static uint32_t onPropertyNotify(std::shared_ptr<Message> message, const NameCallback& callback,
                                     const NameFilter& filter);
    static uint32_t onPropertyNotifySet(std::shared_ptr<Message> message, const NameValueCallback& callback);
    static uint32_t onPropertyNotifyDelete(std::shared_ptr<Message> message, const NameCallback& callback);

    // The expression (and alias) of a prefix subscription: the prefix is
    // used as it stands, not escaped.
    static std::wstring prefixPattern(const wchar_t* head, const std::wstring& prefix);

    // What the operations share; declared here so that helpers of the
    // client's own source file can reach it.
    class Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace Ostrand

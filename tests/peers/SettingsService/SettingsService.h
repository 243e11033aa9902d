#pragma once
// The settings service's side of the settings protocol, without a bus: a
// store of names to texts, the answer to each request and the change notices
// it causes. A test seeds and reads the store and switches faults on; the
// bus peer carries requests, answers and notices.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace SettingsPeer {

// What the service does wrong with every answer while the switch is on.
enum class Fault : uint32_t {
    None,
    NoReply,           // the request is never answered
    NameMissing,       // entries carry no "name"
    Refuse,            // every entry answers "status" false and nothing changes
    WrongName,         // every entry names another property
    StatusMissing,     // no "status" member
    StatusNotBoolean,  // "status" is the text "true"
    ValueMissing,      // read answers carry no "value"
    ValueNotString,    // read answers carry "value" as a number
    NotJson,           // the payload is not JSON at all
    ResponsesNotArray, // list answers carry "responses" as an object
    ResponsesMissing,  // list answers are the empty object
};

struct Notice {
    std::wstring name;
    std::wstring payload;
};

struct Outcome {
    bool answer = true;    // false: the request goes unanswered
    std::wstring payload;  // the reply payload
    std::vector<Notice> notices;
};

class SettingsService {
public:
    static constexpr const wchar_t* kGetProperty = L"SETTINGS_MANAGER_GET_PROPERTY";
    static constexpr const wchar_t* kSetProperty = L"SETTINGS_MANAGER_SET_PROPERTY";
    static constexpr const wchar_t* kRemoveProperty = L"SETTINGS_MANAGER_REMOVE_PROPERTY";
    static constexpr const wchar_t* kGetProperties = L"SettingsManager.GetProperties.Request";
    static constexpr const wchar_t* kSetProperties = L"SettingsManager.SetProperties.Request";
    static constexpr const wchar_t* kRemoveProperties = L"SettingsManager.RemoveProperties.Request";
    static constexpr const wchar_t* kPropertySet = L"SETTINGS_MANAGER_PROPERTY_SET";
    static constexpr const wchar_t* kPropertyRemoved = L"SETTINGS_MANAGER_PROPERTY_REMOVED";
    static constexpr const wchar_t* kNotifySet = L"SettingsManager.Notify.Set.";
    static constexpr const wchar_t* kNotifyDelete = L"SettingsManager.Notify.Delete.";

    // The request names the service answers.
    static std::vector<std::wstring> requestNames();

    // The answer and the notices of one request; unknown names are not answered.
    Outcome handle(const std::wstring& name, const std::wstring& payload);

    void seed(const std::wstring& name, const std::wstring& value, bool isVolatile = false);
    std::optional<std::wstring> find(const std::wstring& name) const;
    bool isVolatile(const std::wstring& name) const;
    std::map<std::wstring, std::wstring> contents() const;

    void setFault(Fault fault);
    // The notice families: "SETTINGS_MANAGER_PROPERTY_SET"/"..._REMOVED" and
    // "SettingsManager.Notify.Set."/"...Delete." + name. Both on at first.
    void setNotices(bool plainNames, bool perProperty);

private:
    struct Entry {
        std::wstring value;
        bool isVolatile = false;
    };
    struct Change {
        std::wstring name;
        std::optional<std::wstring> value; // empty: removed
    };
    class Answer;

    void answerGet(const std::wstring& name, Answer& answer) const;
    void applySet(const std::wstring& name, const std::wstring& value, bool isVolatile, std::vector<Change>& changes);
    bool applyRemove(const std::wstring& name, std::vector<Change>& changes);
    std::vector<Notice> noticesOf(const std::vector<Change>& changes) const;

    mutable std::mutex m_lock;
    std::map<std::wstring, Entry> m_store;
    Fault m_fault = Fault::None;
    bool m_plainNotices = true;
    bool m_perPropertyNotices = true;
};

} // namespace SettingsPeer

#include "SettingsService.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace SettingsPeer {

namespace {

using Encoding = rapidjson::UTF16<wchar_t>;
using Document = rapidjson::GenericDocument<Encoding>;
using Value = Document::ValueType;

std::wstring textOf(const Value& value)
{
    rapidjson::GenericStringBuffer<Encoding> buffer;
    rapidjson::Writer<rapidjson::GenericStringBuffer<Encoding>, Encoding, Encoding> writer(buffer);
    value.Accept(writer);
    return std::wstring(buffer.GetString());
}

bool readString(const Value& object, const wchar_t* member, std::wstring& out)
{
    if (!object.IsObject())
        return false;
    auto found = object.FindMember(member);
    if (found == object.MemberEnd() || !found->value.IsString())
        return false;
    out.assign(found->value.GetString(), found->value.GetStringLength());
    return true;
}

bool readFlag(const Value& object, const wchar_t* member)
{
    auto found = object.FindMember(member);
    return found != object.MemberEnd() && found->value.IsBool() && found->value.GetBool();
}

bool startsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

} // namespace

// One reply under construction: a single entry, or the "responses" list;
// every entry passes through the fault switch.
class SettingsService::Answer {
public:
    Answer(Fault fault, bool isList) : m_fault(fault), m_isList(isList)
    {
        m_document.SetObject();
        m_responses.SetArray();
    }

    void add(const std::wstring& name, bool status, const std::wstring* value = nullptr)
    {
        auto& pool = m_document.GetAllocator();
        Value entry(rapidjson::kObjectType);
        const std::wstring shownName = m_fault == Fault::WrongName ? name + L"-other" : name;
        if (m_fault != Fault::NameMissing)
            entry.AddMember(Value(L"name", pool), Value(shownName.c_str(), pool), pool);
        if (m_fault == Fault::StatusNotBoolean)
            entry.AddMember(Value(L"status", pool), Value(status ? L"true" : L"false", pool), pool);
        else if (m_fault != Fault::StatusMissing)
            entry.AddMember(Value(L"status", pool), Value(status), pool);
        if (value && m_fault == Fault::ValueNotString)
            entry.AddMember(Value(L"value", pool), Value(5), pool);
        else if (value && m_fault != Fault::ValueMissing)
            entry.AddMember(Value(L"value", pool), Value(value->c_str(), pool), pool);
        if (m_isList)
            m_responses.PushBack(entry, pool);
        else
            static_cast<Value&>(m_document).Swap(entry);
    }

    std::wstring payload()
    {
        if (m_fault == Fault::NotJson)
            return L"settings service fault: this is not JSON {";
        if (!m_isList)
            return textOf(m_document);
        auto& pool = m_document.GetAllocator();
        if (m_fault == Fault::ResponsesMissing)
            return L"{}";
        if (m_fault == Fault::ResponsesNotArray) {
            Value object(rapidjson::kObjectType);
            object.AddMember(Value(L"name", pool), Value(L"responses", pool), pool);
            m_document.AddMember(Value(L"responses", pool), object, pool);
        } else {
            m_document.AddMember(Value(L"responses", pool), m_responses, pool);
        }
        return textOf(m_document);
    }

private:
    Fault m_fault;
    bool m_isList;
    Document m_document;
    Value m_responses;
};

std::vector<std::wstring> SettingsService::requestNames()
{
    return {kGetProperty, kSetProperty, kRemoveProperty, kGetProperties, kSetProperties, kRemoveProperties};
}

Outcome SettingsService::handle(const std::wstring& name, const std::wstring& payload)
{
    std::lock_guard<std::mutex> guard(m_lock);
    Outcome outcome;
    const bool isList = name == kGetProperties || name == kSetProperties || name == kRemoveProperties;
    if (!isList && name != kGetProperty && name != kSetProperty && name != kRemoveProperty) {
        outcome.answer = false;
        return outcome;
    }
    if (m_fault == Fault::NoReply) {
        // A service that does not answer does nothing else either.
        outcome.answer = false;
        return outcome;
    }
    const bool refuse = m_fault == Fault::Refuse;
    Answer answer(m_fault, isList);
    std::vector<Change> changes;

    Document request;
    request.Parse(payload.c_str());
    if (request.HasParseError() || !request.IsObject())
        request.SetObject();

    if (!isList) {
        std::wstring property, value;
        const bool named = readString(request, L"name", property);
        if (!named) {
            answer.add(property, false);
        } else if (name == kGetProperty) {
            answerGet(property, answer);
        } else if (name == kSetProperty) {
            const bool valid = readString(request, L"value", value) && !refuse;
            if (valid)
                applySet(property, value, readFlag(request, L"volatile"), changes);
            answer.add(property, valid);
        } else {
            answer.add(property, !refuse && applyRemove(property, changes));
        }
    } else {
        auto list = request.FindMember(L"properties");
        if (list != request.MemberEnd() && list->value.IsArray()) {
            for (const Value& entry : list->value.GetArray()) {
                std::wstring property, value;
                if (!readString(entry, L"name", property))
                    continue;
                const bool isPrefix = readFlag(entry, L"isPrefix");
                if (name == kGetProperties && isPrefix) {
                    for (auto it = m_store.lower_bound(property); it != m_store.end() && startsWith(it->first, property);
                         ++it)
                        answer.add(it->first, !refuse, refuse ? nullptr : &it->second.value);
                } else if (name == kGetProperties) {
                    answerGet(property, answer);
                } else if (name == kSetProperties) {
                    const bool valid = readString(entry, L"value", value) && !refuse;
                    if (valid)
                        applySet(property, value, readFlag(entry, L"volatile"), changes);
                    answer.add(property, valid);
                } else if (isPrefix) {
                    std::vector<std::wstring> doomed;
                    for (auto it = m_store.lower_bound(property); it != m_store.end() && startsWith(it->first, property);
                         ++it)
                        doomed.push_back(it->first);
                    if (refuse)
                        doomed.clear();
                    for (const std::wstring& removed : doomed) {
                        applyRemove(removed, changes);
                        answer.add(removed, true);
                    }
                    answer.add(property, !doomed.empty());
                } else {
                    answer.add(property, !refuse && applyRemove(property, changes));
                }
            }
        }
    }
    outcome.payload = answer.payload();
    outcome.notices = noticesOf(changes);
    return outcome;
}

void SettingsService::answerGet(const std::wstring& name, Answer& answer) const
{
    auto found = m_store.find(name);
    if (found == m_store.end() || m_fault == Fault::Refuse)
        answer.add(name, false);
    else
        answer.add(name, true, &found->second.value);
}

void SettingsService::applySet(const std::wstring& name, const std::wstring& value, bool isVolatile,
                               std::vector<Change>& changes)
{
    m_store[name] = Entry{value, isVolatile};
    changes.push_back({name, value});
}

bool SettingsService::applyRemove(const std::wstring& name, std::vector<Change>& changes)
{
    if (m_store.erase(name) == 0)
        return false;
    changes.push_back({name, std::nullopt});
    return true;
}

std::vector<Notice> SettingsService::noticesOf(const std::vector<Change>& changes) const
{
    std::vector<Notice> notices;
    for (const Change& change : changes) {
        Document notice;
        notice.SetObject();
        auto& pool = notice.GetAllocator();
        notice.AddMember(Value(L"name", pool), Value(change.name.c_str(), pool), pool);
        if (change.value)
            notice.AddMember(Value(L"value", pool), Value(change.value->c_str(), pool), pool);
        const std::wstring payload = textOf(notice);
        if (m_plainNotices)
            notices.push_back({change.value ? kPropertySet : kPropertyRemoved, payload});
        if (m_perPropertyNotices)
            notices.push_back({(change.value ? kNotifySet : kNotifyDelete) + change.name, payload});
    }
    return notices;
}

void SettingsService::seed(const std::wstring& name, const std::wstring& value, bool isVolatile)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_store[name] = Entry{value, isVolatile};
}

std::optional<std::wstring> SettingsService::find(const std::wstring& name) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_store.find(name);
    if (found == m_store.end())
        return std::nullopt;
    return found->second.value;
}

bool SettingsService::isVolatile(const std::wstring& name) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    auto found = m_store.find(name);
    return found != m_store.end() && found->second.isVolatile;
}

std::map<std::wstring, std::wstring> SettingsService::contents() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::map<std::wstring, std::wstring> copy;
    for (const auto& entry : m_store)
        copy[entry.first] = entry.second.value;
    return copy;
}

void SettingsService::setFault(Fault fault)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_fault = fault;
}

void SettingsService::setNotices(bool plainNames, bool perProperty)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_plainNotices = plainNames;
    m_perPropertyNotices = perProperty;
}

} // namespace SettingsPeer

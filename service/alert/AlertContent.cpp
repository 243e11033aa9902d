#include "alert/AlertContent.h"

#include "json/JSONFormatter.h"

#include <utility>

namespace Kest {

namespace {

using Ostrand::JSONFormatter;

AlertMessage messageFrom(const JSONFormatter& element)
{
    AlertMessage message;
    element.getString(L"messagename", message.messagename);
    element.getString(L"payload", message.payload);
    return message;
}

// The object elements of a list member. A list that is not an array, or an
// element that is not an object, ends it there: such members keep their
// default like every other mistyped member of the content.
std::vector<JSONFormatter> objectsOf(const JSONFormatter& document, const wchar_t* name)
{
    std::vector<JSONFormatter> elements;
    document.getObjectArray(name, elements);
    return elements;
}

void readMessages(const JSONFormatter& document, const wchar_t* name, std::vector<AlertMessage>& messages)
{
    for (const JSONFormatter& element : objectsOf(document, name))
        messages.push_back(messageFrom(element));
}

bool readOptions(const JSONFormatter& document, std::vector<AlertOption>& options)
{
    for (const JSONFormatter& element : objectsOf(document, L"options")) {
        AlertOption option;
        if (!element.getString(L"id", option.id) || !element.getString(L"text", option.text) ||
            !element.getBool(L"selected", option.selected))
            return false;
        options.push_back(std::move(option));
    }
    return true;
}

bool readActions(const JSONFormatter& document, std::vector<AlertAction>& actions)
{
    for (const JSONFormatter& element : objectsOf(document, L"actions")) {
        AlertAction action;
        JSONFormatter defaultMessage;
        if (!element.getString(L"text", action.text) || !element.getObject(L"defaultmessage", defaultMessage) ||
            !element.getString(L"id", action.id))
            return false;
        action.defaultmessage = messageFrom(defaultMessage);
        element.getBool(L"default", action.isDefault);
        for (const JSONFormatter& optionElement : objectsOf(element, L"options")) {
            AlertActionOption option;
            JSONFormatter message;
            if (optionElement.getObject(L"message", message))
                option.message = messageFrom(message);
            optionElement.getStringArray(L"idList", option.idList);
            action.options.push_back(std::move(option));
        }
        actions.push_back(std::move(action));
    }
    return true;
}

} // namespace

bool AlertContent::parse(AlertContent& content, const std::wstring& context)
{
    JSONFormatter document;
    if (!document.parse(context))
        return false;
    if (!document.getString(L"title", content.title))
        return false;

    const struct {
        const wchar_t* name;
        std::wstring AlertContent::*field;
    } strings[] = {
        {L"category", &AlertContent::category},
        {L"shortdescription", &AlertContent::shortdescription},
        {L"longdescription", &AlertContent::longdescription},
        {L"langid", &AlertContent::langid},
        {L"detailscontent", &AlertContent::detailscontent},
        {L"defaultcontent", &AlertContent::defaultcontent},
        {L"recommendedtext", &AlertContent::recommendedtext},
        {L"detaillinktext", &AlertContent::detaillinktext},
        {L"detaillinkcontext", &AlertContent::detaillinkcontext},
        {L"appid", &AlertContent::appid},
        {L"plugin", &AlertContent::plugin},
        {L"alertmarketdescription", &AlertContent::alertmarketdescription},
        {L"typedescription", &AlertContent::typedescription},
        {L"telemetry", &AlertContent::telemetry},
    };
    for (const auto& s : strings)
        document.getString(s.name, content.*s.field);

    document.getUInt(L"width", content.width);
    document.getUInt(L"timeout", content.timeout);
    document.getUInt(L"detaillinktype", content.detaillinktype);
    document.getUInt(L"status", content.status);
    document.getBool(L"legacy", content.legacy);
    document.getBool(L"SuppressAlertByDefault", content.SuppressAlertByDefault);

    readMessages(document, L"timeoutactions", content.timeoutactions);
    readMessages(document, L"dismissalactions", content.dismissalactions);
    if (!readOptions(document, content.options))
        return false;
    return readActions(document, content.actions);
}

} // namespace Kest

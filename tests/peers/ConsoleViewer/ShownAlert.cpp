#include "ShownAlert.h"

#include <rapidjson/document.h>

namespace ConsoleViewer {

namespace {

using WideDocument = rapidjson::GenericDocument<rapidjson::UTF16<wchar_t>>;
using WideValue = rapidjson::GenericValue<rapidjson::UTF16<wchar_t>>;

std::wstring text(const WideValue& object, const wchar_t* name)
{
    const auto member = object.FindMember(name);
    if (member == object.MemberEnd() || !member->value.IsString())
        return std::wstring();
    return std::wstring(member->value.GetString(), member->value.GetStringLength());
}

} // namespace

bool ShownAlert::read(const std::wstring& payload, ShownAlert& alert)
{
    WideDocument document;
    document.Parse(payload.c_str());
    if (document.HasParseError() || !document.IsObject())
        return false;
    alert.id = text(document, L"id");
    alert.instanceId = text(document, L"instanceId");
    alert.priority = text(document, L"priority");
    alert.content = text(document, L"content");
    const auto context = document.FindMember(L"context");
    alert.reportFailed = context != document.MemberEnd() && context->value.IsObject() &&
                         text(context->value, L"viewerOutcome") == L"Failed";
    return true;
}

} // namespace ConsoleViewer

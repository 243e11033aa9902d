#include "AlertRequest.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace ProductProgram {

namespace {

using Encoding = rapidjson::UTF16<wchar_t>;
using WideDocument = rapidjson::GenericDocument<Encoding>;
using WideValue = rapidjson::GenericValue<Encoding>;
using WideBuffer = rapidjson::GenericStringBuffer<Encoding>;

WideValue textValue(const std::wstring& text, WideDocument& document)
{
    return WideValue(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), document.GetAllocator());
}

std::wstring serialise(const WideDocument& document)
{
    WideBuffer buffer;
    rapidjson::Writer<WideBuffer, Encoding, Encoding> writer(buffer);
    document.Accept(writer);
    return std::wstring(buffer.GetString(), buffer.GetSize());
}

} // namespace

std::wstring AlertRequest::json(const std::wstring& instanceId) const
{
    WideDocument document;
    document.SetObject();
    auto& allocator = document.GetAllocator();
    document.AddMember(L"id", textValue(id, document), allocator);
    document.AddMember(L"instanceId", textValue(instanceId, document), allocator);
    document.AddMember(L"priority", textValue(priority, document), allocator);
    document.AddMember(L"product", textValue(product, document), allocator);
    document.AddMember(L"source", L"client", allocator);
    document.AddMember(L"forcePreferredViewer", false, allocator);
    WideValue viewers(rapidjson::kArrayType);
    if (!viewer.empty())
        viewers.PushBack(textValue(viewer, document), allocator);
    document.AddMember(L"preferredViewer", viewers, allocator);
    WideValue context(rapidjson::kObjectType);
    // The title tells alerts apart: queued alerts with the same title are duplicates.
    context.AddMember(L"title", textValue(title, document), allocator);
    document.AddMember(L"context", context, allocator);
    document.AddMember(L"timeout", timeout, allocator);
    document.AddMember(L"sessionId", 0u, allocator);
    return serialise(document);
}

bool AlertRequest::withInstance(const std::wstring& text, const std::wstring& instanceId, std::wstring& out,
                                std::wstring& error)
{
    WideDocument document;
    document.Parse(text.c_str());
    if (document.HasParseError() || !document.IsObject()) {
        error = L"the request is not a JSON object";
        return false;
    }
    document.RemoveMember(L"instanceId");
    document.AddMember(L"instanceId", textValue(instanceId, document), document.GetAllocator());
    out = serialise(document);
    return true;
}

void AlertRequest::peek(const std::wstring& text, std::wstring& id, unsigned& timeout)
{
    WideDocument document;
    document.Parse(text.c_str());
    if (document.HasParseError() || !document.IsObject())
        return;
    const auto idMember = document.FindMember(L"id");
    if (idMember != document.MemberEnd() && idMember->value.IsString())
        id = idMember->value.GetString();
    const auto timeoutMember = document.FindMember(L"timeout");
    if (timeoutMember != document.MemberEnd() && timeoutMember->value.IsUint())
        timeout = timeoutMember->value.GetUint();
}

} // namespace ProductProgram

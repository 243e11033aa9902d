#include "alert/AlertInfo.h"

#include "json/JSONFormatter.h"

#include <windows.h>

#include <cerrno>
#include <cwchar>

namespace Kest {

namespace {

// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000LL;

int64_t nowSince1970()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const int64_t ticks = static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    return ticks - kUnixEpochInFileTime;
}

const wchar_t* sourceName(AlertSource source)
{
    switch (source) {
    case AlertSource::Client:
        return L"client";
    case AlertSource::Web:
        return L"web";
    }
    return L"unknown";
}

bool sourceFromName(const std::wstring& name, AlertSource& source)
{
    if (name == L"client") {
        source = AlertSource::Client;
        return true;
    }
    if (name == L"web") {
        source = AlertSource::Web;
        return true;
    }
    return false;
}

// "P" and a number read as the C library reads one (leading blanks and a sign
// allowed, reading stops at the first non-digit); 1 to 3 only.
bool priorityFromText(const std::wstring& text, int32_t& priority)
{
    if (text.empty() || text[0] != L'P')
        return false;
    const wchar_t* digits = text.c_str() + 1;
    wchar_t* end = nullptr;
    errno = 0;
    const long number = std::wcstol(digits, &end, 10);
    if (end == digits || errno == ERANGE)
        return false;
    if (number < 1 || number > 3)
        return false;
    priority = static_cast<int32_t>(number);
    return true;
}

} // namespace

AlertInfo::AlertInfo() : creationTime(nowSince1970()) {}

std::wstring AlertInfo::toJson(const AlertInfo& info)
{
    Ostrand::JSONFormatter document;
    document.setString(L"id", info.alertId);
    document.setString(L"instanceId", info.instanceId);
    document.setString(L"priority", L"P" + std::to_wstring(info.priority));
    document.setString(L"product", info.product);
    document.setString(L"content", info.content);
    document.setUInt(L"timeout", info.timeout);
    document.setUInt(L"sessionId", info.sessionId);
    document.setString(L"source", sourceName(info.source));
    document.setBool(L"forcePreferredViewer", info.forcePreferredViewer);
    for (const std::wstring& viewer : info.preferredViewer)
        document.appendString(L"preferredViewer", viewer);
    // Text that is not an object leaves the context document empty.
    document.setObjectText(L"context", info.context);
    return document.toString();
}

bool AlertInfo::fromJson(const std::wstring& json, AlertInfo& info)
{
    Ostrand::JSONFormatter document;
    if (!document.parse(json))
        return false;
    if (!document.getString(L"id", info.alertId) || !document.getString(L"instanceId", info.instanceId))
        return false;
    std::wstring priority;
    if (!document.getString(L"priority", priority) || !priorityFromText(priority, info.priority))
        return false;
    if (!document.getString(L"product", info.product))
        return false;
    // Optional members keep the record's value when missing or mistyped.
    document.getString(L"content", info.content);
    document.getUInt(L"timeout", info.timeout);
    document.getUInt(L"sessionId", info.sessionId);
    std::wstring source;
    if (!document.getString(L"source", source) || !sourceFromName(source, info.source))
        return false;
    if (!document.getBool(L"forcePreferredViewer", info.forcePreferredViewer))
        return false;
    if (!document.getStringArray(L"preferredViewer", info.preferredViewer))
        return false;
    return document.getObjectText(L"context", info.context);
}

} // namespace Kest

#include "TelemetryServerFixture.h"

#include "TestNames.h"

#include <windows.h>

#include <cstdio>

namespace TestSupport {

namespace {

const wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{E782BE15-9936-4A7F-8DF9-9AB95D229DF1}";

// The build hands over a host path; Wine shows the host's root as drive Z:.
std::wstring serverPath()
{
    std::wstring path = L"Z:" + widen(TELEMETRY_SERVER_DOUBLE_PATH);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

void setString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

std::wstring tempFolder()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    return std::wstring(buffer, length <= MAX_PATH ? length : 0);
}

} // namespace

TelemetryServerFixture::TelemetryServerFixture(bool registerServer)
    : TelemetryServerFixture(registerServer ? serverPath() : std::wstring())
{
}

TelemetryServerFixture::TelemetryServerFixture(const std::wstring& server)
    : m_capture(tempFolder() + uniqueName(L"telemetry") + L".capture"),
      m_creations(tempFolder() + uniqueName(L"telemetry") + L".creations")
{
    DeleteFileW(m_capture.c_str());
    DeleteFileW(m_creations.c_str());
    SetEnvironmentVariableW(L"SENTREL_TELEMETRY_CAPTURE", m_capture.c_str());
    SetEnvironmentVariableW(L"SENTREL_TELEMETRY_CREATIONS", m_creations.c_str());
    SetEnvironmentVariableW(L"SENTREL_TELEMETRY_RESULT", nullptr);
    SetEnvironmentVariableW(L"SENTREL_TELEMETRY_TRUSTED_RESULT", nullptr);
    unregisterServer();
    if (server.empty())
        return;
    HKEY key = nullptr;
    const std::wstring inproc = std::wstring(kClassKey) + L"\\InprocServer32";
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, inproc.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        setString(key, nullptr, server);
        setString(key, L"ThreadingModel", L"Both");
        RegCloseKey(key);
    }
}

TelemetryServerFixture::~TelemetryServerFixture()
{
    unregisterServer();
    for (const wchar_t* name : {L"SENTREL_TELEMETRY_CAPTURE", L"SENTREL_TELEMETRY_CREATIONS", L"SENTREL_TELEMETRY_RESULT",
                                L"SENTREL_TELEMETRY_TRUSTED_RESULT"})
        SetEnvironmentVariableW(name, nullptr);
    DeleteFileW(m_capture.c_str());
    DeleteFileW(m_creations.c_str());
}

void TelemetryServerFixture::unregisterServer()
{
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kClassKey);
}

void TelemetryServerFixture::setResult(long hresult)
{
    wchar_t text[16];
    std::swprintf(text, 16, L"%lx", static_cast<unsigned long>(hresult));
    SetEnvironmentVariableW(L"SENTREL_TELEMETRY_RESULT", text);
}

std::vector<std::wstring> TelemetryServerFixture::records() const
{
    return readLines(m_capture);
}

std::vector<std::wstring> TelemetryServerFixture::creations() const
{
    return readLines(m_creations);
}

std::vector<std::wstring> TelemetryServerFixture::readLines(const std::wstring& path)
{
    std::vector<std::wstring> result;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return result;
    std::wstring text;
    wchar_t buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        text.append(buffer, read / sizeof(wchar_t));
    CloseHandle(file);
    size_t start = 0;
    for (size_t end = text.find(L'\n'); end != std::wstring::npos; end = text.find(L'\n', start)) {
        result.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return result;
}

namespace {

bool readString(const std::wstring& json, size_t& at, std::wstring& out)
{
    if (at >= json.size() || json[at] != L'"')
        return false;
    ++at;
    out.clear();
    while (at < json.size() && json[at] != L'"') {
        wchar_t c = json[at++];
        if (c == L'\\') {
            if (at >= json.size())
                return false;
            const wchar_t e = json[at++];
            switch (e) {
            case L'b': c = L'\b'; break;
            case L't': c = L'\t'; break;
            case L'n': c = L'\n'; break;
            case L'f': c = L'\f'; break;
            case L'r': c = L'\r'; break;
            case L'"': case L'/': case L'\\': c = e; break;
            case L'u':
                if (at + 4 > json.size())
                    return false;
                c = static_cast<wchar_t>(std::wcstoul(json.substr(at, 4).c_str(), nullptr, 16));
                at += 4;
                break;
            default: return false;
            }
        }
        out += c;
    }
    if (at >= json.size())
        return false;
    ++at;
    return true;
}

} // namespace

bool parseFlatRecord(const std::wstring& json, std::map<std::wstring, std::wstring>& members)
{
    members.clear();
    size_t at = 0;
    if (json.empty() || json[at++] != L'{')
        return false;
    for (;;) {
        std::wstring key, value;
        if (!readString(json, at, key) || at >= json.size() || json[at++] != L':' || !readString(json, at, value))
            return false;
        members[key] = value;
        if (at >= json.size())
            return false;
        const wchar_t next = json[at++];
        if (next == L'}')
            return at == json.size();
        if (next != L',')
            return false;
    }
}

} // namespace TestSupport

#pragma once
#include <map>
#include <string>
#include <vector>

namespace TestSupport {

// Registers the telemetry server double for the telemetry class in the test
// prefix (machine-wide: tests using it hold the ctest lock "telemetry_server"),
// points its capture and its creation journal at files of the test's own, and
// undoes all of it when it goes.
class TelemetryServerFixture {
public:
    explicit TelemetryServerFixture(bool registerServer = true);
    // Registers the server library at `serverPath` (as Wine sees it) instead,
    // such as a signed copy of the double that offers the trusted class factory.
    explicit TelemetryServerFixture(const std::wstring& serverPath);
    ~TelemetryServerFixture();
    TelemetryServerFixture(const TelemetryServerFixture&) = delete;
    TelemetryServerFixture& operator=(const TelemetryServerFixture&) = delete;

    // The result the server's send answers from now on.
    void setResult(long hresult);

    // Every record captured so far, as the JSON texts the server received.
    std::vector<std::wstring> records() const;

    // How each server object so far was made, in order: "plain" or "trusted".
    std::vector<std::wstring> creations() const;

    static void unregisterServer();

private:
    static std::vector<std::wstring> readLines(const std::wstring& path);

    std::wstring m_capture;
    std::wstring m_creations;
};

// Reads one flat JSON object of string members as the telemetry writer makes
// it (unescaping its escapes); false when the text is not of that form.
bool parseFlatRecord(const std::wstring& json, std::map<std::wstring, std::wstring>& members);

} // namespace TestSupport

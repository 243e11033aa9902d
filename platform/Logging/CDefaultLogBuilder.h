#pragma once
#include "Logging/CLogBuilderIf.h"

namespace ETWLogging {

// The value below the machine's logging key that chooses the logger.
constexpr wchar_t kLoggingKeyPath[] = L"SOFTWARE\\Corvane\\Logging";
constexpr wchar_t kLoggingMechanismValue[] = L"Logging Mechanism";

// Mechanisms: 1 the rotating file logger; anything else the ETW logger.
enum : uint32_t {
    LOG_MECHANISM_DEFAULT = 0,
    LOG_MECHANISM_FILE = 1,
};

// Chooses the mechanism: identity mechanism 1, or a "Logging Mechanism" value
// of 1, gives the file logger; everything else the ETW logger, with no
// fallback from one to the other.
class CDefaultLogBuilder : public CLogBuilderIf_ex {
public:
    virtual ~CDefaultLogBuilder() = default;
    bool Build(const wchar_t* group, HMODULE module, const wchar_t* host, uint32_t mechanism, CLoggingIf** out,
               Halvex::CRegKey* key) override;
    bool BuildEx(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host, uint32_t mechanism,
                 CLoggingIf** out, Halvex::CRegKey* key) override;

    // The mechanism the registry asks for: read from `key` when given, else
    // from the machine's logging key. 0 when the value cannot be read.
    static uint32_t ReadMechanism(Halvex::CRegKey* key, bool& keyOpened);
};

// Each makes its logger with one reference and stores it in *out; false when
// *out already holds a logger, group or host is empty (not null), or the
// logger cannot be initialised.
bool CreateFileLogger(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                      CLoggingIf** out);
bool CreateETWLogger(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                     CLoggingIf** out);

} // namespace ETWLogging

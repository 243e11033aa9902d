#pragma once
#include "Logging/CLoggingIf.h"

#include <windows.h>

#include <cstdint>

namespace Halvex {
class CRegKey;
}

namespace ETWLogging {

// Makes the process's logger. `key`, when given, is where the mechanism value
// is read instead of the machine's logging key.
class CLogBuilderIf {
public:
    virtual bool Build(const wchar_t* group, HMODULE module, const wchar_t* host, uint32_t mechanism,
                       CLoggingIf** out, Halvex::CRegKey* key) = 0;

protected:
    ~CLogBuilderIf() = default;
};

class CLogBuilderIf_ex : public CLogBuilderIf {
public:
    virtual bool BuildEx(const wchar_t* app, const wchar_t* group, HMODULE module, const wchar_t* host,
                         uint32_t mechanism, CLoggingIf** out, Halvex::CRegKey* key) = 0;

protected:
    ~CLogBuilderIf_ex() = default;
};

} // namespace ETWLogging

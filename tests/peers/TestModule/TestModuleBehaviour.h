#pragma once
#include <cstdint>
#include <map>
#include <string>

namespace TestModule {

// What the test module does, read from the environment of the process that
// loads it, so that one library plays every module a test needs:
//   TESTMODULE_BEHAVIOUR  directives separated by ';':
//     base                     the module is a base module (BaseTestModule)
//     create=<hex status>      createModule fails with that status
//     create=null              createModule succeeds without a module
//     status:<call>=<hex>      the call returns that status
//     throw:<call>=std|int|bad_alloc
//     hang:<call>              the call never returns
//   TESTMODULE_JOURNAL    a file to which every call appends one line
// <call> is create, initialize, start, stop, uninitialize, destroy, or message
// (a base module's subscriber of direct messages).
class Behaviour {
public:
    static Behaviour fromEnvironment();
    explicit Behaviour(const std::wstring& directives);

    // What `call` does before it would return `status`: it may throw, hang, or
    // replace the status.
    uint32_t act(const std::wstring& call, uint32_t status) const;

    bool createsBaseModule() const { return m_directives.count(L"base") != 0; }
    bool createsNothing() const;
    // 0 unless the directives name a failure for createModule.
    uint32_t createFailure() const;

private:
    std::wstring value(const std::wstring& key) const;
    std::map<std::wstring, std::wstring> m_directives;
};

// Appends "<line>\n" (UTF-8) to the journal file, when there is one.
void journal(const std::wstring& line);

} // namespace TestModule

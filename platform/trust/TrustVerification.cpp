#include "trust/TrustVerification.h"

#include <softpub.h>

namespace Halvex {
namespace trust {

namespace {

GUID genericVerify()
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return action;
}

} // namespace

TrustVerification::TrustVerification(const wchar_t* path, HANDLE file, DWORD providerFlags, bool keepState)
{
    if (file && file != INVALID_HANDLE_VALUE) {
        LARGE_INTEGER zero{};
        SetFilePointerEx(file, zero, nullptr, FILE_BEGIN);
    }
    m_file.cbStruct = sizeof(m_file);
    m_file.pcwszFilePath = path;
    m_file.hFile = file;
    m_data.cbStruct = sizeof(m_data);
    m_data.dwUIChoice = WTD_UI_NONE;
    m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
    m_data.dwUnionChoice = WTD_CHOICE_FILE;
    m_data.pFile = &m_file;
    m_data.dwStateAction = keepState ? WTD_STATEACTION_VERIFY : 0;
    m_data.dwProvFlags = providerFlags;
    GUID action = genericVerify();
    m_answer = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
}

TrustVerification::~TrustVerification()
{
    if (m_data.dwStateAction != WTD_STATEACTION_VERIFY)
        return;
    m_data.dwStateAction = WTD_STATEACTION_CLOSE;
    GUID action = genericVerify();
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
}

HCRYPTMSG TrustVerification::message() const
{
    if (!m_data.hWVTStateData)
        return nullptr;
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(m_data.hWVTStateData);
    return provider ? provider->hMsg : nullptr;
}

} // namespace trust
} // namespace Halvex

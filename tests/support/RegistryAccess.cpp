#include "RegistryAccess.h"

namespace TestSupport {

namespace {

bool setDacl(HKEY key, PACL dacl)
{
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION))
        return false;
    if (!SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE))
        return false;
    return RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
}

} // namespace

bool denyAllAccess(HKEY key)
{
    ACL empty;
    if (!InitializeAcl(&empty, sizeof(empty), ACL_REVISION))
        return false;
    return setDacl(key, &empty);
}

bool allowAllAccess(HKEY key)
{
    return setDacl(key, nullptr);
}

} // namespace TestSupport

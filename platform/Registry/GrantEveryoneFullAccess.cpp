#include "Registry/GrantEveryoneFullAccess.h"

#include <memory>

namespace Halvex {
namespace internal {

namespace {

struct LocalFreer {
    void operator()(void* block) const { LocalFree(block); }
};
using LocalBlock = std::unique_ptr<void, LocalFreer>;

// A failed BOOL call that left no error code must not read as success.
LONG lastError()
{
    const DWORD error = GetLastError();
    return error ? static_cast<LONG>(error) : ERROR_GEN_FAILURE;
}

class RegistryHandle {
public:
    explicit RegistryHandle(HKEY key) : m_key(key) {}
    ~RegistryHandle() { RegCloseKey(m_key); }
    RegistryHandle(const RegistryHandle&) = delete;
    RegistryHandle& operator=(const RegistryHandle&) = delete;
    HKEY get() const { return m_key; }

private:
    HKEY m_key;
};

// Sets the descriptor on every subkey below `key`, depth first. A subkey that
// cannot be opened is passed over.
LONG applyBelow(HKEY key, PSECURITY_DESCRIPTOR descriptor, SecurityAPI& api)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD chars = 256;
        const LONG enumerated = RegEnumKeyExW(key, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
        if (enumerated == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (enumerated != ERROR_SUCCESS)
            return enumerated;
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS)
            continue;
        RegistryHandle subkey(opened);
        LONG result = api.RegSetKeySecurity(subkey.get(), DACL_SECURITY_INFORMATION, descriptor);
        if (result == ERROR_SUCCESS)
            result = applyBelow(subkey.get(), descriptor, api);
        if (result != ERROR_SUCCESS)
            return result;
    }
}

} // namespace

LONG GrantEveryoneFullAccess(HKEY key, bool recurse, SecurityAPI& api)
{
    if (!key)
        return ERROR_INVALID_PARAMETER;
    if (!api.IsNT())
        return ERROR_SUCCESS;
    if (!api.Load())
        return ERROR_FILE_NOT_FOUND;

    DWORD size = 0;
    LONG result = api.RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    if (result != ERROR_INSUFFICIENT_BUFFER)
        return result;
    if (size == 0)
        return ERROR_BAD_LENGTH;
    // A descriptor without a DACL is shorter than the absolute descriptor
    // that InitializeSecurityDescriptor writes into the block.
    const DWORD blockSize = size < SECURITY_DESCRIPTOR_MIN_LENGTH ? SECURITY_DESCRIPTOR_MIN_LENGTH : size;
    LocalBlock current(LocalAlloc(LPTR, blockSize));
    if (!current)
        return ERROR_OUTOFMEMORY;
    if (!api.InitializeSecurityDescriptor(current.get(), SECURITY_DESCRIPTOR_REVISION))
        return lastError();
    size = blockSize;
    result = api.RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, current.get(), &size);
    if (result != ERROR_SUCCESS)
        return result;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL currentDacl = nullptr;
    if (!api.GetSecurityDescriptorDacl(current.get(), &present, &currentDacl, &defaulted))
        return lastError();

    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyoneSid = nullptr;
    if (!api.AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyoneSid))
        return lastError();
    const auto freeSid = [&api](void* sid) { api.FreeSid(sid); };
    std::unique_ptr<void, decltype(freeSid)> everyone(everyoneSid, freeSid);

    EXPLICIT_ACCESS_W entry = {};
    entry.grfAccessPermissions = GENERIC_ALL;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.pMultipleTrustee = nullptr;
    entry.Trustee.MultipleTrusteeOperation = NO_MULTIPLE_TRUSTEE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());
    PACL mergedDacl = nullptr;
    const DWORD merged = api.SetEntriesInAclW(1, &entry, present ? currentDacl : nullptr, &mergedDacl);
    LocalBlock mergedOwner(mergedDacl);
    if (merged != ERROR_SUCCESS)
        return static_cast<LONG>(merged);

    LocalBlock descriptor(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor)
        return ERROR_NOT_ENOUGH_MEMORY;
    if (!api.InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION))
        return lastError();
    if (!api.SetSecurityDescriptorDacl(descriptor.get(), TRUE, mergedDacl, FALSE))
        return lastError();

    result = api.RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.get());
    if (result == ERROR_SUCCESS && recurse)
        result = applyBelow(key, descriptor.get(), api);
    return result;
}

} // namespace internal
} // namespace Halvex

#ifndef SENTREL_MODULE_FUNCTIONS_H
#define SENTREL_MODULE_FUNCTIONS_H
/* The flat boundary between a host and a module library: the four exports of
   the library and the eight-entry table through which the host drives one
   module object. Strings are NUL-terminated UTF-16; every pointer handed over
   is valid only for the call. */
#include <stdint.h>
#include <wchar.h>

#include "MessageBusFunctions.h"
#include "ModuleStatus.h"

#ifdef __cplusplus
namespace Ostrand {
namespace internal {
class ModuleHandle;
}
}
/* The host holds only the address of the handle. */
typedef Ostrand::internal::ModuleHandle* MODULE_HANDLE;
extern "C" {
#else
typedef struct ModuleHandle* MODULE_HANDLE;
#endif

/* The host's module-manager entry: its context first, then three
   pointer-sized arguments. */
typedef MODULE_STATUS (*ModuleManagerCallback)(void* context, void* first, void* second, void* third);

typedef MODULE_STATUS (*NewModuleFunction)(MODULE_HANDLE* handle, const wchar_t* moduleName);
typedef MODULE_STATUS (*DestroyModuleFunction)(MODULE_HANDLE handle);
typedef MODULE_STATUS (*InitializeModuleFunction)(MODULE_HANDLE handle, const wchar_t* moduleName,
                                                  const wchar_t* secondName, uint32_t parameterCount,
                                                  const wchar_t* const* parameterNames,
                                                  const wchar_t* const* parameterValues, void* managerContext,
                                                  ModuleManagerCallback managerCallback);
typedef MODULE_STATUS (*StartModuleFunction)(MODULE_HANDLE handle);
typedef MODULE_STATUS (*StopModuleFunction)(MODULE_HANDLE handle);
typedef MODULE_STATUS (*UninitializeModuleFunction)(MODULE_HANDLE handle);
/* The header may be null; a version-1 header is 100 bytes, a version-2 one 108
   (an Ostrand::MessageHeader is a MessageWireHeader). */
typedef MODULE_STATUS (*DirectMessageFunction)(MODULE_HANDLE handle, const MessageWireHeader* header,
                                               const wchar_t* name, const wchar_t* source,
                                               const wchar_t* payload);
typedef MODULE_STATUS (*InitializeModuleV2Function)(MODULE_HANDLE handle, const wchar_t* moduleName,
                                                    const wchar_t* secondName, uint32_t parameterCount,
                                                    const wchar_t* const* parameterNames,
                                                    const wchar_t* const* parameterValues, void* managerContext,
                                                    ModuleManagerCallback managerCallback, void* busHandle,
                                                    const struct MessageBusFunctions* busFunctions);

/* The order of the entries is the contract. */
typedef struct ModuleFunctions {
    NewModuleFunction NewModule;
    DestroyModuleFunction DestroyModule;
    InitializeModuleFunction InitializeModule;
    StartModuleFunction StartModule;
    StopModuleFunction StopModule;
    UninitializeModuleFunction UninitializeModule;
    DirectMessageFunction DirectMessage;
    InitializeModuleV2Function InitializeModuleV2;
} ModuleFunctions;

/* Version of the module library: major * 1000000 + minor * 1000 + patch. */
#define MODULE_LIBRARY_VERSION_NUM 2001000u
#define MODULE_LIBRARY_VERSION_STR "2.1.0"

/* The four exports every library of the family has, as the caller sees them.
   A module library's CreateObject ignores the version and returns its
   constant ModuleFunctions; its ReleaseObject does nothing. */
typedef const void* (*CreateObjectFunction)(uint32_t version);
typedef void (*ReleaseObjectFunction)(const void* object);
typedef const char* (*GetVersionStrFunction)(void);
typedef uint32_t (*GetVersionNumFunction)(void);

#ifdef __cplusplus
}
#endif

#endif

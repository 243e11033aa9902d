#ifndef SENTREL_ALERT_PLUGIN_API_H
#define SENTREL_ALERT_PLUGIN_API_H
/* The boundary to a product's alert plugin library. The library exports the
 * four entry points of the framework family; its CreateObject, asked for
 * ALERT_PLUGIN_API_VERSION, answers the table below (or null to refuse).
 *
 * Strings are NUL-terminated UTF-16. Input strings belong to the caller and
 * live for the call. Output strings are allocated by the plugin: after a 0
 * result every output points to a valid (possibly empty) string, which the
 * caller copies and hands back at once through the matching free entry;
 * after a non-zero result the caller neither reads nor frees them. */
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The version the service asks a plugin's CreateObject for: 2.0.0. */
#define ALERT_PLUGIN_API_VERSION 2000000u

/* The only object name the service creates an instance under. */
#define ALERT_PLUGIN_OBJECT_NAME L"AlertPlugin"

typedef void* ALERT_PLUGIN_INSTANCE;

typedef uint32_t (*CreatePluginInstanceFunction)(ALERT_PLUGIN_INSTANCE* instance, const wchar_t* objectName);
typedef uint32_t (*DestroyPluginInstanceFunction)(ALERT_PLUGIN_INSTANCE instance);
/* `suppress` is the caller's flag, 0 on entry; the plugin sets it to 1 to
 * suppress the alert. `outJson` is the alert information to continue with,
 * `outExtra` a text reported when the alert is suppressed. */
typedef uint32_t (*ProcessAlertFunction)(ALERT_PLUGIN_INSTANCE instance, const wchar_t* alertJson,
                                         wchar_t** outJson, uint32_t* suppress, wchar_t** outExtra);
typedef void (*FreeProcessAlertResultFunction)(wchar_t* outJson, wchar_t* outExtra);
/* `outContent` is the alert's content for that viewer. */
typedef uint32_t (*GetAlertContentFunction)(ALERT_PLUGIN_INSTANCE instance, const wchar_t* alertJson,
                                            const wchar_t* viewerName, wchar_t** outContent);
typedef void (*FreeAlertContentFunction)(wchar_t* outContent);

/* The plugin's function table, in this order. */
typedef struct AlertPluginApi {
    CreatePluginInstanceFunction CreatePluginInstance;
    DestroyPluginInstanceFunction DestroyPluginInstance;
    ProcessAlertFunction ProcessAlert;
    FreeProcessAlertResultFunction FreeProcessAlertResult;
    GetAlertContentFunction GetAlertContent;
    FreeAlertContentFunction FreeAlertContent;
} AlertPluginApi;

/* The library's CreateObject as the service calls it. */
typedef const AlertPluginApi* (*AlertPluginCreateObjectFunction)(uint32_t version);

#ifdef __cplusplus
} /* extern "C" */

namespace Kest {
using AlertPluginApi = ::AlertPluginApi;
}
#endif

#endif

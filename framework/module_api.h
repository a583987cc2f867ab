/* The module boundary: the fourteen functions a host finds in a module
 * library by name. Text is UTF-16 (wchar_t on Windows, char16_t elsewhere).
 * All functions but CreateInstanceOfModule use __stdcall on 32-bit Windows.
 * Buffer sizes count UTF-16 units, terminator included. */
#ifndef REGCLEAN_FRAMEWORK_MODULE_API_H_
#define REGCLEAN_FRAMEWORK_MODULE_API_H_

#ifdef _WIN32
typedef wchar_t ModuleChar;
#define MODULE_CALL __stdcall
#else
typedef char16_t ModuleChar;
#define MODULE_CALL
#endif

#if defined(REGCLEAN_BUILDING_MODULE) && !defined(_WIN32)
#define MODULE_EXPORT __attribute__((visibility("default")))
#else
#define MODULE_EXPORT
#endif

/* Opaque module handle. */
typedef void* ModuleHandle;

/* The host's progress callback: percent points to the module's progress (0 to
 * 100); both reserved arguments are 0. A false result asks the module to stop. */
typedef bool(MODULE_CALL* ModuleProgressCallback)(void* context, double* percent, int reserved1,
                                                  int reserved2);

/* The module type of the registry cleaner. */
#define MODULE_TYPE_REGISTRY_CLEANER 271u
/* The channel a host-started check offers to the service provider when the
 * host names none. */
#define MODULE_DEFAULT_CHANNEL u"CORVANE_SERVICE_CHANNEL"

#ifdef __cplusplus
extern "C" {
#endif

MODULE_EXPORT ModuleHandle CreateInstanceOfModule(void);
MODULE_EXPORT void MODULE_CALL DestroyInstanceOfModule(ModuleHandle module);
MODULE_EXPORT int MODULE_CALL GetTitleOfModule(ModuleHandle module, ModuleChar* buffer, int size);
MODULE_EXPORT int MODULE_CALL GetIdentifierOfModule(ModuleHandle module, ModuleChar* buffer,
                                                    int size);
MODULE_EXPORT int MODULE_CALL GetDescriptionOfModule(ModuleHandle module, ModuleChar* buffer,
                                                     int size);
MODULE_EXPORT unsigned int MODULE_CALL GetModuleTypeOfModule(ModuleHandle module);
MODULE_EXPORT double MODULE_CALL GetResultLevelOfModule(ModuleHandle module);
MODULE_EXPORT int MODULE_CALL GetResultTextOfModule(ModuleHandle module, ModuleChar* buffer,
                                                    int size);
MODULE_EXPORT int MODULE_CALL GetSubResultsAsJSONOfModule(ModuleHandle module, ModuleChar* buffer,
                                                          int size);
MODULE_EXPORT void MODULE_CALL SetProgressCallbackOfModule(ModuleHandle module,
                                                           ModuleProgressCallback callback,
                                                           void* context);
MODULE_EXPORT int MODULE_CALL GetCheckBtnTitleOfModule(ModuleHandle module, ModuleChar* buffer,
                                                       int size);
MODULE_EXPORT void MODULE_CALL ExecuteCheckOfModule(ModuleHandle module, const ModuleChar* channel,
                                                    int length);
MODULE_EXPORT int MODULE_CALL GetResolveBtnTitleOfModule(ModuleHandle module, ModuleChar* buffer,
                                                         int size);
MODULE_EXPORT void MODULE_CALL ExecuteResolveOfModule(ModuleHandle module);

#ifdef __cplusplus
}
#endif

#endif /* REGCLEAN_FRAMEWORK_MODULE_API_H_ */

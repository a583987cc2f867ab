// The fourteen exports. Each forwards to one operation of the module object;
// only DestroyInstanceOfModule checks its handle. No exception leaves here
// except one raised while constructing (the host sees it as it would a
// failing constructor).
#include <new>

#include "framework/module_api.h"
#include "modules/RegistryCleanerModule/dll/registry_cleaner_check_module.h"
#include "modules/RegistryCleanerModule/dll/registry_cleaner_module_app.h"

static_assert(sizeof(ModuleChar) == sizeof(char16_t), "module text is UTF-16");

namespace {

CCheckModule* Module(ModuleHandle handle) { return static_cast<CCheckModule*>(handle); }
char16_t* Text(ModuleChar* buffer) { return reinterpret_cast<char16_t*>(buffer); }

}  // namespace

extern "C" {

ModuleHandle CreateInstanceOfModule(void) {
  TheApp();
  CCheckModule* module = new (std::nothrow) CRegistryCleanerModuleCheckModule();
  return module;
}

void MODULE_CALL DestroyInstanceOfModule(ModuleHandle module) {
  if (module == nullptr) return;
  delete Module(module);
}

int MODULE_CALL GetTitleOfModule(ModuleHandle module, ModuleChar* buffer, int size) {
  return Module(module)->GetTitle(Text(buffer), size);
}

int MODULE_CALL GetIdentifierOfModule(ModuleHandle module, ModuleChar* buffer, int size) {
  return Module(module)->GetIdentifier(Text(buffer), size);
}

int MODULE_CALL GetDescriptionOfModule(ModuleHandle module, ModuleChar* buffer, int size) {
  return Module(module)->GetDescription(Text(buffer), size);
}

unsigned int MODULE_CALL GetModuleTypeOfModule(ModuleHandle module) {
  return Module(module)->GetModuleType();
}

double MODULE_CALL GetResultLevelOfModule(ModuleHandle module) {
  return Module(module)->GetResultLevel();
}

int MODULE_CALL GetResultTextOfModule(ModuleHandle module, ModuleChar* buffer, int size) {
  return Module(module)->GetResultText(Text(buffer), size);
}

int MODULE_CALL GetSubResultsAsJSONOfModule(ModuleHandle module, ModuleChar* buffer, int size) {
  return Module(module)->GetSubResultsAsJSON(Text(buffer), size);
}

void MODULE_CALL SetProgressCallbackOfModule(ModuleHandle module, ModuleProgressCallback callback,
                                             void* context) {
  Module(module)->SetProgressCallback(callback, context);
}

int MODULE_CALL GetCheckBtnTitleOfModule(ModuleHandle module, ModuleChar* buffer, int size) {
  return Module(module)->GetCheckBtnTitle(Text(buffer), size);
}

void MODULE_CALL ExecuteCheckOfModule(ModuleHandle module, const ModuleChar* channel, int length) {
  // The default channel, unless the host names one; the length only says
  // whether the argument counts, the text runs to its terminator.
  const char16_t* name = MODULE_DEFAULT_CHANNEL;
  if (channel != nullptr && length >= 1) name = reinterpret_cast<const char16_t*>(channel);
  int n = 0;
  while (name[n] != 0) ++n;
  Module(module)->ExecuteCheck(name, n);
}

int MODULE_CALL GetResolveBtnTitleOfModule(ModuleHandle module, ModuleChar* buffer, int size) {
  return Module(module)->GetResolveBtnTitle(Text(buffer), size);
}

void MODULE_CALL ExecuteResolveOfModule(ModuleHandle module) { Module(module)->ExecuteResolve(); }

}  // extern "C"

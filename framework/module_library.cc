#include "framework/module_library.h"

#include <vector>

ModuleLibrary::~ModuleLibrary() {
  if (library_ != nullptr) platform::FreeLibrary(library_);
}

bool ModuleLibrary::Load(std::u16string_view path, std::string* error) {
  platform::LibraryHandle library = platform::LoadLibrary(path, error);
  if (library == nullptr) return false;
  const char* missing = nullptr;
  auto bind = [&](auto& function, const char* name) {
    function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
        platform::GetProcAddress(library, name));
    if (function == nullptr && missing == nullptr) missing = name;
  };
  bind(create, "CreateInstanceOfModule");
  bind(destroy, "DestroyInstanceOfModule");
  bind(getTitle, "GetTitleOfModule");
  bind(getIdentifier, "GetIdentifierOfModule");
  bind(getDescription, "GetDescriptionOfModule");
  bind(getModuleType, "GetModuleTypeOfModule");
  bind(getResultLevel, "GetResultLevelOfModule");
  bind(getResultText, "GetResultTextOfModule");
  bind(getSubResultsAsJson, "GetSubResultsAsJSONOfModule");
  bind(setProgressCallback, "SetProgressCallbackOfModule");
  bind(getCheckButtonTitle, "GetCheckBtnTitleOfModule");
  bind(executeCheck, "ExecuteCheckOfModule");
  bind(getResolveButtonTitle, "GetResolveBtnTitleOfModule");
  bind(executeResolve, "ExecuteResolveOfModule");
  if (missing != nullptr) {
    if (error != nullptr) *error = std::string("it does not export ") + missing;
    platform::FreeLibrary(library);
    return false;
  }
  library_ = library;
  return true;
}

std::u16string ModuleLibrary::Text(int(MODULE_CALL* getter)(ModuleHandle, ModuleChar*, int),
                                   ModuleHandle module) {
  const int size = getter(module, nullptr, 0);
  if (size <= 1) return {};
  std::vector<ModuleChar> buffer(static_cast<size_t>(size) + 1, 0);
  getter(module, buffer.data(), static_cast<int>(buffer.size()));
  std::u16string text;
  for (size_t i = 0; i < buffer.size() && buffer[i] != 0; ++i) {
    text.push_back(static_cast<char16_t>(buffer[i]));
  }
  return text;
}

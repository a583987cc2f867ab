// The host's side of the module boundary: a module library loaded at run
// time, with its fourteen exports found by name.
#pragma once

#include <string>
#include <string_view>

#include "framework/module_api.h"
#include "platform/library.h"

class ModuleLibrary {
 public:
  ModuleLibrary() = default;
  // Frees the library; the host destroys its module instances first.
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  // Loads the library at path and finds every export. False when the library
  // does not load (*error then holds the system's words) or lacks an export
  // (*error names it); nothing stays loaded then.
  bool Load(std::u16string_view path, std::string* error);
  bool loaded() const { return library_ != nullptr; }

  // The whole text a string getter hands out for module: its size is asked
  // first, then the text.
  static std::u16string Text(int(MODULE_CALL* getter)(ModuleHandle, ModuleChar*, int),
                             ModuleHandle module);

  decltype(&CreateInstanceOfModule) create = nullptr;
  decltype(&DestroyInstanceOfModule) destroy = nullptr;
  decltype(&GetTitleOfModule) getTitle = nullptr;
  decltype(&GetIdentifierOfModule) getIdentifier = nullptr;
  decltype(&GetDescriptionOfModule) getDescription = nullptr;
  decltype(&GetModuleTypeOfModule) getModuleType = nullptr;
  decltype(&GetResultLevelOfModule) getResultLevel = nullptr;
  decltype(&GetResultTextOfModule) getResultText = nullptr;
  decltype(&GetSubResultsAsJSONOfModule) getSubResultsAsJson = nullptr;
  decltype(&SetProgressCallbackOfModule) setProgressCallback = nullptr;
  decltype(&GetCheckBtnTitleOfModule) getCheckButtonTitle = nullptr;
  decltype(&ExecuteCheckOfModule) executeCheck = nullptr;
  decltype(&GetResolveBtnTitleOfModule) getResolveButtonTitle = nullptr;
  decltype(&ExecuteResolveOfModule) executeResolve = nullptr;

 private:
  platform::LibraryHandle library_ = nullptr;
};

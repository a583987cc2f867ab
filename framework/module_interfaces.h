// The module object's interface chain. Each interface derives from the one
// after it: IUndoResolveModule : IResolveModule : ICheckModule :
// IProgressModule : IResultModule : IModule. The order of declaration below
// is the order of the virtual slots the exports index into.
#pragma once

#include <cstdint>

#include "framework/module_api.h"

class IModule {
 public:
  virtual ~IModule() = default;                                    // slot 0
  virtual int GetTitle(char16_t* buffer, int size) = 0;            // 1
  virtual int GetIdentifier(char16_t* buffer, int size) = 0;       // 2
  virtual int GetDescription(char16_t* buffer, int size) = 0;      // 3
  virtual int GetDescriptionHeading(char16_t* buffer, int size) = 0;  // 4
  virtual unsigned int GetModuleType() = 0;                        // 5
};

class IResultModule : public IModule {
 public:
  virtual double GetResultLevel() = 0;                             // 6
  virtual int GetResultText(char16_t* buffer, int size) = 0;       // 7
  virtual int GetSubResultsAsJSON(char16_t* buffer, int size) = 0;  // 8
};

class IProgressModule : public IResultModule {
 public:
  virtual void SetProgressCallback(ModuleProgressCallback callback, void* context) = 0;  // 9
  virtual int GetProgressText(char16_t* buffer, int size) = 0;     // 10
};

class ICheckModule : public IProgressModule {
 public:
  virtual int GetCheckBtnTitle(char16_t* buffer, int size) = 0;    // 11
  virtual int GetCheckText(char16_t* buffer, int size) = 0;        // 12
  virtual void ExecuteCheck(const char16_t* channel, int length) = 0;  // 13
};

class IResolveModule : public ICheckModule {
 public:
  virtual int GetResolveBtnTitle(char16_t* buffer, int size) = 0;  // 14
  virtual void ExecuteResolve() = 0;                               // 15
};

class IUndoResolveModule : public IResolveModule {
 public:
  virtual bool IsUndoAvailable() = 0;                              // 16
  virtual int64_t GetUndoPoint() = 0;                              // 17
  virtual void ExecuteUndoResolve(int64_t undoPoint) = 0;          // 18
  virtual int GetUndoText(char16_t* buffer, int size) = 0;         // 19
};

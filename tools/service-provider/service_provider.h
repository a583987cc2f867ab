// The service provider: an elevated program that holds one instance of a
// module, drives it through the module's exports as a host does, and serves
// the module's requests on the service channel: check and resolve run here
// and answer with the result, progress answers the percent shown so far (100
// once a run is over), cancel stops the running work.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "framework/module_api.h"
#include "framework/module_library.h"
#include "framework/service_channel.h"
#include "platform/file_system.h"
#include "platform/library.h"
#include "platform/system.h"

struct ServiceProviderOptions {
  std::u16string channel = kServiceChannel;
  // The module library; empty: modules\RegistryCleanerModule beside the program.
  std::u16string modulePath;
  // The IPC library; empty: modules\common beside the program.
  std::u16string ipcPath;
  // Ends after this long without a request and without a run.
  uint32_t idleMs = 10 * 60 * 1000;
  // Log lines go here (appended); empty: standard error.
  std::u16string logPath;
  bool registerRequested = false;
};

// Reads the command line: " /register", "--channel NAME", "--idle-ms N",
// "--module PATH", "--ipc PATH", "--log PATH". False, with *error, on
// anything else.
bool ParseServiceProviderArguments(int argc, const std::u16string* argv,
                                   ServiceProviderOptions* options, std::u16string* error);

class ServiceProvider {
 public:
  explicit ServiceProvider(ServiceProviderOptions options,
                           platform::System* system = platform::System::Default(),
                           platform::FileSystem* fs = platform::FileSystem::Default());
  ~ServiceProvider();
  ServiceProvider(const ServiceProvider&) = delete;
  ServiceProvider& operator=(const ServiceProvider&) = delete;

  // Loads the module and the IPC library and starts serving. False (logged)
  // when any of them fails.
  bool Start();
  // Serves until idleMs have passed without a request while no run is going.
  void ServeUntilIdle();

  // One request's text in, the reply's text out; false for no reply.
  bool Handle(std::u16string_view request, std::u16string* reply);

  void Log(std::u16string_view line);

 private:
  static int IPC_CALL OnRequest(void* context, const IpcChar* request, unsigned requestBytes,
                                IpcSetReply setReply, void* replyHandle);
  static bool MODULE_CALL OnProgress(void* context, double* percent, int reserved1, int reserved2);
  // Runs a check or resolve on the module and answers its result.
  ServiceMessage Run(const ServiceMessage& request);
  bool LoadModule();

  ServiceProviderOptions options_;
  platform::System* system_;
  platform::FileSystem* fs_;
  IpcLoader* ipc_ = nullptr;
  ModuleLibrary library_;
  ModuleHandle module_ = nullptr;
  std::u16string identifier_;

  std::mutex logLock_;
  std::mutex stateLock_;   // guards the run state below
  int runs_ = 0;           // runs in progress
  bool ranOnce_ = false;   // a run has ended
  double progress_ = 0.0;  // the percent the module last showed
  std::atomic<bool> cancel_{false};
  std::atomic<uint64_t> lastActivityMs_{0};
};

// The service channel: the messages a module exchanges with the elevated
// service provider, their text form, the IPC library that carries them, and
// finding or starting the service provider. The run control that uses them
// lives in CCheckModule.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ipc/ipc_api.h"
#include "platform/library.h"
#include "platform/registry.h"
#include "platform/system.h"

// Request codes.
enum class ServiceRequest : int32_t {
  Check = 1,
  Resolve = 2,
  Switch = 3,
  SwitchState = 4,
  Progress = 5,
  Cancel = 6,
  Message = 7,
};

// One request or reply.
struct ServiceMessage {
  std::u16string identifier;  // the module's identifier
  int32_t request = 0;        // a ServiceRequest code
  std::u16string header;      // Message only
  std::u16string message;     // Message only
  int32_t switchValue = 0;    // Switch and SwitchState
  double level = 0.0;         // reply: result level, or the percent of a progress reply
  std::u16string text;        // reply: result text
  int32_t switchState = 0;    // reply to SwitchState
};

// The channel the service provider of this machine listens on.
inline constexpr char16_t kServiceChannel[] = u"CORVANE_SERVICE_CHANNEL";
// The service provider's program, and its scheduled task and Run-key value.
inline constexpr char16_t kServiceProviderProgram[] = u"ServiceProvider.exe";
inline constexpr char16_t kServiceProviderTask[] = u"corvane Service Provider";
// The size of a reply buffer in characters, a terminator not counted.
inline constexpr unsigned kServiceReplyChars = 4096;

// A request as one line of JSON: an array holding one object with
// "ModuleIdentificator", "ModuleRequest" and the members of its code, in name
// order.
std::u16string WriteServiceRequest(const ServiceMessage& message);
// The reply read into a message that starts from the defaults (level 0.0,
// empty text, request 0); they stand unless the text is an array of exactly
// one object holding "ResultText" (string), "ResultLevel" (number) and
// "ModuleRequest" (number). "SwitchState" is read for code 4 only.
ServiceMessage ReadServiceReply(std::u16string_view text);

// The service provider's side of the same texts: a request read with the
// same rules ("ModuleRequest" and "ModuleIdentificator" required; false when
// they are missing), and a reply written with the level's six decimals.
bool ReadServiceRequest(std::u16string_view text, ServiceMessage* message);
std::u16string WriteServiceReply(const ServiceMessage& message);

// name, or the default channel when it is empty.
std::u16string ServiceChannelName(std::u16string_view name);
// Whether name reaches the service provider of this machine: the default
// channel or "127.0.0.1", ignoring case.
bool IsLocalServiceChannel(std::u16string_view name);

// The IPC library, loaded at run time, with its client or server. Not
// thread-safe to create; a client it hands out may be used by many threads.
class IpcLoader {
 public:
  // Loads the library at path; a failed load leaves a loader without library.
  explicit IpcLoader(std::u16string_view path);
  // Destroys the client and the server through the library, then unloads it.
  ~IpcLoader();
  IpcLoader(const IpcLoader&) = delete;
  IpcLoader& operator=(const IpcLoader&) = delete;

  bool loaded() const { return library_ != nullptr; }
  // The kept client, created on the first call that can; null without one.
  IpcClient* GetClient();
  // Starts serving channel (one server per loader). Null when the library or
  // its export is missing or the channel cannot be served.
  IpcServer* CreateServer(std::u16string_view channel, IpcRequestHandler handler, void* context);
  // Stops the server, if any, waiting for its running handlers.
  void DestroyServer();

 private:
  platform::LibraryHandle library_ = nullptr;
  CreateClientInstanceFunction createClient_ = nullptr;
  DestroyClientInstanceFunction destroyClient_ = nullptr;
  CreateServerInstanceFunction createServer_ = nullptr;
  DestroyServerInstanceFunction destroyServer_ = nullptr;
  IpcClient* client_ = nullptr;
  IpcServer* server_ = nullptr;
};

// Sends request on channel through client and waits for the reply: a buffer
// of kServiceReplyChars characters plus one, zero-filled. False when the send
// fails; otherwise *reply (when given) holds the reply text.
bool SendServiceRequest(IpcClient* client, std::u16string_view channel, std::u16string_view request,
                        std::u16string* reply);

// Paths of the suite around a module at modulePath (Windows form):
// <root>\modules\<module>\<file> gives <root>\modules\common\asp_ipc32.dll
// and <root>\ServiceProvider.exe.
std::u16string IpcLibraryPath(std::u16string_view modulePath);
std::u16string ServiceProviderPath(std::u16string_view modulePath);

// True when a service provider runs (this process included). Otherwise, with
// mayStart, starts it (its scheduled task or Run-key entry, then the program
// itself beside the suite's modules, asking for elevation from Vista on) and
// waits for it: up to 1 s plus 20 looks 250 ms apart. modulePath is the
// module's own file (the program is found from it).
bool EnsureServiceProvider(bool mayStart, std::u16string_view modulePath,
                           platform::System* system = platform::System::Default(),
                           platform::Registry* registry = platform::Registry::Default());

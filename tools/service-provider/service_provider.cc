#include "tools/service-provider/service_provider.h"

#include <cstdio>
#include <string_view>
#include <vector>

#include "framework/system_services.h"
#include "platform/unicode.h"
#include "support/json_value.h"
#include "support/kv_path.h"

namespace {

std::u16string Number(uint64_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// The level as replies write it, for the log.
std::u16string Level(double level) {
  std::u16string text;
  JsonValue(level).ToText(text);
  return text;
}

}  // namespace

bool ParseServiceProviderArguments(int argc, const std::u16string* argv,
                                   ServiceProviderOptions* options, std::u16string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::u16string& arg = argv[i];
    // The module starts the program with " /register"; blanks around it are
    // the shell's business.
    std::u16string_view trimmed = arg;
    while (!trimmed.empty() && trimmed.front() == u' ') trimmed.remove_prefix(1);
    if (trimmed == u"/register" || trimmed == u"-register") {
      options->registerRequested = true;
      continue;
    }
    if (trimmed.empty()) continue;
    std::u16string* target = nullptr;
    if (arg == u"--channel") target = &options->channel;
    if (arg == u"--module") target = &options->modulePath;
    if (arg == u"--ipc") target = &options->ipcPath;
    if (arg == u"--log") target = &options->logPath;
    const bool idle = arg == u"--idle-ms";
    if ((target == nullptr && !idle) || i + 1 >= argc) {
      *error = target == nullptr && !idle ? u"unknown argument: " + arg : arg + u" needs a value";
      return false;
    }
    const std::u16string& value = argv[++i];
    if (target != nullptr) {
      if (value.empty()) {
        *error = arg + u" needs a value";
        return false;
      }
      *target = value;
      continue;
    }
    uint64_t ms = 0;
    for (char16_t c : value) {
      if (c < u'0' || c > u'9' || ms > 0xFFFFFFFFull / 10) {
        *error = u"--idle-ms needs a number of milliseconds: " + value;
        return false;
      }
      ms = ms * 10 + static_cast<uint64_t>(c - u'0');
    }
    if (value.empty() || ms == 0 || ms > 0xFFFFFFFFull) {
      *error = u"--idle-ms needs a number of milliseconds: " + value;
      return false;
    }
    options->idleMs = static_cast<uint32_t>(ms);
  }
  return true;
}

ServiceProvider::ServiceProvider(ServiceProviderOptions options, platform::System* system,
                                 platform::FileSystem* fs)
    : options_(std::move(options)), system_(system), fs_(fs) {
  const std::u16string root = KvOSAL::ParentFolder(GetHostFilePath(system_));
  if (options_.modulePath.empty())
    options_.modulePath = root + u"\\modules\\RegistryCleanerModule\\RegistryCleanerModule.dll";
  if (options_.ipcPath.empty()) options_.ipcPath = root + u"\\modules\\common\\asp_ipc32.dll";
}

ServiceProvider::~ServiceProvider() {
  // The server first: it returns once every running handler has.
  delete ipc_;
  if (module_ != nullptr) library_.destroy(module_);
}

void ServiceProvider::Log(std::u16string_view line) {
  const platform::LocalTime t = system_->GetLocalTime();
  char stamp[64];
  std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02u %02u:%02u:%02u.%03u ", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.milliseconds);
  const std::string text = stamp + platform::U16ToUtf8(line) + "\n";
  std::lock_guard<std::mutex> guard(logLock_);
  if (options_.logPath.empty()) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
    return;
  }
  platform::FileHandle file =
      fs_->CreateFile(options_.logPath, platform::kGenericWrite,
                      platform::kFileShareRead | platform::kFileShareWrite, platform::kOpenAlways);
  if (file == nullptr) return;
  fs_->SetFilePointer(file, 0, platform::kFileEnd);
  uint32_t written = 0;
  fs_->WriteFile(file, text.data(), static_cast<uint32_t>(text.size()), &written);
  fs_->CloseHandle(file);
}

bool ServiceProvider::LoadModule() {
  std::string error;
  if (!library_.Load(options_.modulePath, &error)) {
    Log(u"cannot load the module " + options_.modulePath + u": " + platform::Utf8ToU16(error));
    return false;
  }
  module_ = library_.create();
  if (module_ == nullptr) {
    Log(u"the module could not be created");
    return false;
  }
  identifier_ = ModuleLibrary::Text(library_.getIdentifier, module_);
  library_.setProgressCallback(module_, &ServiceProvider::OnProgress, this);
  return true;
}

bool ServiceProvider::Start() {
  if (options_.registerRequested)
    Log(u"/register: the start entries are the installer's; serving as started");
  if (!IsProcessElevated(system_))
    Log(u"warning: not elevated; the module's work may lack the rights it needs");
  if (!LoadModule()) return false;
  ipc_ = new IpcLoader(options_.ipcPath);
  if (!ipc_->loaded()) {
    Log(u"cannot load the IPC library " + options_.ipcPath);
    return false;
  }
  if (ipc_->CreateServer(options_.channel, &ServiceProvider::OnRequest, this) == nullptr) {
    Log(u"cannot serve the channel " + options_.channel + u" (another service provider?)");
    return false;
  }
  lastActivityMs_ = system_->GetTickCount64();
  Log(u"serving " + identifier_ + u" on " + options_.channel + u", ending after " +
      Number(options_.idleMs) + u" ms without requests");
  return true;
}

void ServiceProvider::ServeUntilIdle() {
  for (;;) {
    system_->Sleep(50);
    {
      std::lock_guard<std::mutex> guard(stateLock_);
      if (runs_ > 0) continue;
    }
    if (system_->GetTickCount64() - lastActivityMs_.load() >= options_.idleMs) break;
  }
  Log(u"no requests for " + Number(options_.idleMs) + u" ms: ending");
  // No new request is taken from here on; a running one still gets its reply.
  ipc_->DestroyServer();
}

int IPC_CALL ServiceProvider::OnRequest(void* context, const IpcChar* request,
                                        unsigned requestBytes, IpcSetReply setReply,
                                        void* replyHandle) {
  auto* self = static_cast<ServiceProvider*>(context);
  const std::u16string text(reinterpret_cast<const char16_t*>(request), requestBytes / 2);
  std::u16string reply;
  if (!self->Handle(text, &reply)) return 0;
  setReply(replyHandle, reinterpret_cast<const IpcChar*>(reply.data()),
           static_cast<unsigned>(reply.size() * 2));
  return 1;
}

bool MODULE_CALL ServiceProvider::OnProgress(void* context, double* percent, int, int) {
  auto* self = static_cast<ServiceProvider*>(context);
  std::lock_guard<std::mutex> guard(self->stateLock_);
  if (percent != nullptr) self->progress_ = *percent;
  return !self->cancel_;
}

bool ServiceProvider::Handle(std::u16string_view text, std::u16string* reply) {
  lastActivityMs_ = system_->GetTickCount64();
  ServiceMessage request;
  if (!ReadServiceRequest(text, &request)) {
    Log(u"refused a request that cannot be read: " + std::u16string(text.substr(0, 200)));
    return false;
  }
  if (request.identifier != identifier_) {
    Log(u"refused a request for the module \"" + request.identifier + u"\"");
    return false;
  }
  ServiceMessage answer;
  answer.request = request.request;
  switch (static_cast<ServiceRequest>(request.request)) {
    case ServiceRequest::Check:
    case ServiceRequest::Resolve:
      answer = Run(request);
      break;
    case ServiceRequest::Progress: {
      std::lock_guard<std::mutex> guard(stateLock_);
      answer.level = runs_ > 0 ? progress_ : (ranOnce_ ? 100.0 : 0.0);
      break;
    }
    case ServiceRequest::Cancel: {
      std::lock_guard<std::mutex> guard(stateLock_);
      if (runs_ > 0) cancel_ = true;
      answer.level = runs_ > 0 ? progress_ : (ranOnce_ ? 100.0 : 0.0);
      Log(runs_ > 0 ? u"cancel: stopping the run" : u"cancel: no run to stop");
      break;
    }
    default:
      Log(u"refused request " + Number(static_cast<uint32_t>(request.request)) +
          u": not served here");
      return false;
  }
  *reply = WriteServiceReply(answer);
  return true;
}

ServiceMessage ServiceProvider::Run(const ServiceMessage& request) {
  const bool resolve = request.request == static_cast<int32_t>(ServiceRequest::Resolve);
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    // A request during a run joins it: the module waits for the running one
    // and both answer its result. Only a fresh run starts from zero.
    if (runs_++ == 0) {
      progress_ = 0.0;
      cancel_ = false;
    }
  }
  Log(resolve ? u"resolve: started" : u"check: started");
  // The module's framework runs the work here: it never hands it on from
  // inside the service provider.
  if (resolve)
    library_.executeResolve(module_);
  else
    library_.executeCheck(module_, nullptr, 0);

  ServiceMessage answer;
  answer.request = request.request;
  answer.level = library_.getResultLevel(module_);
  answer.text = ModuleLibrary::Text(library_.getResultText, module_);
  bool cancelled;
  {
    std::lock_guard<std::mutex> guard(stateLock_);
    cancelled = cancel_;
    if (--runs_ == 0) {
      ranOnce_ = true;
      cancel_ = false;
    }
  }
  lastActivityMs_ = system_->GetTickCount64();
  Log(std::u16string(resolve ? u"resolve" : u"check") + u": ended" +
      (cancelled ? u" (cancelled)" : u"") + u", level " + Level(answer.level) + u", text \"" +
      answer.text + u"\"");
  return answer;
}

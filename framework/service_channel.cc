#include "framework/service_channel.h"

#include <algorithm>
#include <vector>

#include "framework/system_services.h"
#include "platform/case_fold.h"
#include "support/json_value.h"
#include "support/kv_path.h"

static_assert(sizeof(IpcChar) == sizeof(char16_t), "channel text is UTF-16");

namespace {

// The parser's options for replies: single quotes and raw control characters.
constexpr uint32_t kReplyParseFlags = JsonFlags::SingleQuotes | JsonFlags::RawControlChars;
// The send's last argument.
constexpr int kLastArgument = -1;
constexpr int kShowNormal = 5;

const IpcChar* Ipc(const char16_t* text) { return reinterpret_cast<const IpcChar*>(text); }

// The single object of a one-element array, or null.
const JsonObject* SoleObject(const JsonValue& root) {
  const JsonArray* array = root.array();
  if (array == nullptr || array->size() != 1) return nullptr;
  return (*array)[0].object();
}

const JsonValue* Member(const JsonObject& object, std::u16string_view name) {
  const auto it = object.find(name);
  return it == object.end() ? nullptr : &it->second;
}

std::u16string WriteSole(const JsonObject& object) {
  JsonValue root(JsonKind::Array);
  root.array()->emplace_back(object);
  std::u16string text;
  root.ToText(text, 0, nullptr);
  return text;
}


}  // namespace

std::u16string WriteServiceRequest(const ServiceMessage& message) {
  JsonObject object;
  object.emplace(u"ModuleRequest", JsonValue(message.request));
  object.emplace(u"ModuleIdentificator", JsonValue(std::u16string_view(message.identifier)));
  switch (static_cast<ServiceRequest>(message.request)) {
    case ServiceRequest::Switch:
      object.emplace(u"Switch", JsonValue(message.switchValue));
      break;
    case ServiceRequest::SwitchState:
      object.emplace(u"SwitchState", JsonValue(message.switchValue));
      break;
    case ServiceRequest::Message:
      object.emplace(u"MessageHeader", JsonValue(std::u16string_view(message.header)));
      object.emplace(u"Message", JsonValue(std::u16string_view(message.message)));
      break;
    default:
      break;
  }
  return WriteSole(object);
}

ServiceMessage ReadServiceReply(std::u16string_view text) {
  ServiceMessage reply;
  if (text.empty()) return reply;
  JsonValue root;
  if (!root.Parse(text, kReplyParseFlags, nullptr)) return reply;
  const JsonObject* object = SoleObject(root);
  if (object == nullptr) return reply;
  const JsonValue* resultText = Member(*object, u"ResultText");
  const JsonValue* resultLevel = Member(*object, u"ResultLevel");
  const JsonValue* request = Member(*object, u"ModuleRequest");
  if (resultText == nullptr || resultLevel == nullptr || request == nullptr) return reply;
  // Members of other types than a sender writes leave the defaults too.
  if (resultText->kind() != JsonKind::String || resultLevel->kind() != JsonKind::Number ||
      request->kind() != JsonKind::Number)
    return reply;
  reply.text = *resultText->string();
  reply.level = resultLevel->number();
  reply.request = static_cast<int32_t>(request->number());
  if (reply.request == static_cast<int32_t>(ServiceRequest::SwitchState)) {
    const JsonValue* state = Member(*object, u"SwitchState");
    if (state != nullptr && state->kind() == JsonKind::Number)
      reply.switchState = static_cast<int32_t>(state->number());
  }
  return reply;
}

bool ReadServiceRequest(std::u16string_view text, ServiceMessage* message) {
  *message = ServiceMessage();
  JsonValue root;
  if (text.empty() || !root.Parse(text, kReplyParseFlags, nullptr)) return false;
  const JsonObject* object = SoleObject(root);
  if (object == nullptr) return false;
  const JsonValue* request = Member(*object, u"ModuleRequest");
  const JsonValue* identifier = Member(*object, u"ModuleIdentificator");
  if (request == nullptr || request->kind() != JsonKind::Number || identifier == nullptr ||
      identifier->kind() != JsonKind::String)
    return false;
  message->request = static_cast<int32_t>(request->number());
  message->identifier = *identifier->string();
  auto readInt = [object](std::u16string_view name, int32_t* out) {
    const JsonValue* v = Member(*object, name);
    if (v != nullptr && v->kind() == JsonKind::Number) *out = static_cast<int32_t>(v->number());
  };
  auto readText = [object](std::u16string_view name, std::u16string* out) {
    const JsonValue* v = Member(*object, name);
    if (v != nullptr && v->kind() == JsonKind::String) *out = *v->string();
  };
  readInt(u"Switch", &message->switchValue);
  readInt(u"SwitchState", &message->switchValue);
  readText(u"MessageHeader", &message->header);
  readText(u"Message", &message->message);
  return true;
}

std::u16string WriteServiceReply(const ServiceMessage& message) {
  JsonObject object;
  object.emplace(u"ModuleRequest", JsonValue(message.request));
  object.emplace(u"ResultLevel", JsonValue(message.level));
  object.emplace(u"ResultText", JsonValue(std::u16string_view(message.text)));
  if (message.request == static_cast<int32_t>(ServiceRequest::SwitchState))
    object.emplace(u"SwitchState", JsonValue(message.switchState));
  return WriteSole(object);
}

std::u16string ServiceChannelName(std::u16string_view name) {
  return name.empty() ? std::u16string(kServiceChannel) : std::u16string(name);
}

bool IsLocalServiceChannel(std::u16string_view name) {
  return platform::EqualsIgnoreCase(name, kServiceChannel) ||
         platform::EqualsIgnoreCase(name, u"127.0.0.1");
}

IpcLoader::IpcLoader(std::u16string_view path) {
  library_ = platform::LoadLibrary(path);
  if (library_ == nullptr) return;
  createClient_ = reinterpret_cast<CreateClientInstanceFunction>(
      platform::GetProcAddress(library_, "CreateClientInstance"));
  destroyClient_ = reinterpret_cast<DestroyClientInstanceFunction>(
      platform::GetProcAddress(library_, "DestroyClientInstance"));
  createServer_ = reinterpret_cast<CreateServerInstanceFunction>(
      platform::GetProcAddress(library_, "CreateServerInstance"));
  destroyServer_ = reinterpret_cast<DestroyServerInstanceFunction>(
      platform::GetProcAddress(library_, "DestroyServerInstance"));
}

IpcLoader::~IpcLoader() {
  if (client_ != nullptr && destroyClient_ != nullptr) destroyClient_(client_);
  DestroyServer();
  if (library_ != nullptr) platform::FreeLibrary(library_);
}

IpcClient* IpcLoader::GetClient() {
  if (client_ == nullptr && library_ != nullptr && createClient_ != nullptr)
    client_ = createClient_();
  return client_;
}

IpcServer* IpcLoader::CreateServer(std::u16string_view channel, IpcRequestHandler handler,
                                   void* context) {
  if (server_ != nullptr || library_ == nullptr || createServer_ == nullptr) return nullptr;
  const std::u16string name(channel);
  server_ = createServer_(Ipc(name.c_str()), handler, context);
  return server_;
}

void IpcLoader::DestroyServer() {
  if (server_ != nullptr && destroyServer_ != nullptr) destroyServer_(server_);
  server_ = nullptr;
}

bool SendServiceRequest(IpcClient* client, std::u16string_view channel, std::u16string_view request,
                        std::u16string* reply) {
  if (client == nullptr) return false;
  const std::u16string name(channel);
  std::vector<char16_t> buffer(kServiceReplyChars + 1, 0);
  unsigned replyBytes = kServiceReplyChars * 2;
  const bool sent = client->Send(
      Ipc(name.c_str()), Ipc(request.data()), static_cast<unsigned>(request.size() * 2),
      reinterpret_cast<IpcChar*>(buffer.data()), &replyBytes, kLastArgument);
  if (!sent) return false;
  if (buffer[0] != 0) buffer[std::min<size_t>(replyBytes / 2, kServiceReplyChars)] = 0;
  if (reply != nullptr) *reply = std::u16string(buffer.data());
  return true;
}

std::u16string IpcLibraryPath(std::u16string_view modulePath) {
  const std::u16string above = KvOSAL::ParentFolder(KvOSAL::ParentFolder(modulePath));
  return above + u"\\common\\asp_ipc32.dll";
}

std::u16string ServiceProviderPath(std::u16string_view modulePath) {
  return KvOSAL::ParentFolder(KvOSAL::ParentFolder(KvOSAL::ParentFolder(modulePath))) + u"\\" + kServiceProviderProgram;
}

bool EnsureServiceProvider(bool mayStart, std::u16string_view modulePath, platform::System* system,
                           platform::Registry* registry) {
  if (IsProcessRunning(kServiceProviderProgram, u"", false, system)) return true;
  if (!mayStart) return false;
  StartServiceProvider(system, registry);
  system->Sleep(1000);
  if (IsProcessRunning(kServiceProviderProgram, u"", true, system)) return true;

  // Start the program itself, asking for elevation where there is such a thing.
  const std::u16string program = ServiceProviderPath(modulePath);
  const std::u16string verb = IsVistaOrLater(system) ? u"runas" : u"";
  system->ShellExecute(verb, program, u" /register", KvOSAL::ParentFolder(program), kShowNormal);
  for (int look = 0; look < 20; ++look) {
    system->Sleep(250);
    StartServiceProvider(system, registry);
    if (IsProcessRunning(kServiceProviderProgram, u"", true, system)) return true;
  }
  return false;
}

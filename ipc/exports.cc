// The four functions of the library. No exception leaves them.
#include <memory>
#include <new>
#include <string>

#include "ipc/ipc_api.h"
#include "ipc/ipc_client.h"
#include "ipc/ipc_server.h"

static_assert(sizeof(IpcChar) == 2, "channel text is UTF-16");
static_assert(sizeof(bool) == 1, "the send's result is one byte");

IpcClient* CreateClientInstance(void) { return new (std::nothrow) ipc::Client(); }

void IPC_CALL DestroyClientInstance(IpcClient* client) { delete static_cast<ipc::Client*>(client); }

IpcServer* IPC_CALL CreateServerInstance(const IpcChar* channel, IpcRequestHandler handler,
                                         void* context) {
  if (channel == nullptr || channel[0] == 0 || handler == nullptr) return nullptr;
  try {
    std::u16string name;
    for (const IpcChar* at = channel; *at != 0; ++at) name.push_back(static_cast<char16_t>(*at));
    auto server = std::make_unique<ipc::Server>(std::move(name), handler, context);
    if (!server->Start()) return nullptr;
    return reinterpret_cast<IpcServer*>(server.release());
  } catch (...) {
    return nullptr;
  }
}

void IPC_CALL DestroyServerInstance(IpcServer* server) {
  delete reinterpret_cast<ipc::Server*>(server);
}

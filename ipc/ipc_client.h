// The client behind CreateClientInstance. It holds no connection: each send
// connects, sends one request frame, and reads frames until the reply.
#pragma once

#include "ipc/ipc_api.h"

namespace ipc {

class Client final : public IpcClient {
 public:
  unsigned GetVersion() override;
  bool Send(const IpcChar* channel, const IpcChar* request, unsigned requestBytes, IpcChar* reply,
            unsigned* replyBytes, int last) override;
};

}  // namespace ipc

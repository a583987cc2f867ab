#include "ipc/ipc_client.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ipc/frame.h"
#include "ipc/timing.h"
#include "platform/ipc_transport.h"

namespace ipc {
namespace {

// Waits for the reply, passing over keep-alives; the reply's payload in
// *payload. False on silence, closure or anything that is not our frame.
bool ReadReply(platform::IpcConnection& connection, uint32_t silenceMs,
               std::vector<unsigned char>* payload) {
  for (;;) {
    unsigned char head[kFrameHeaderBytes];
    FrameHeader header;
    if (connection.Read(head, sizeof(head), silenceMs) != platform::IpcIo::kOk) return false;
    if (!DecodeFrameHeader(head, &header)) return false;
    if (header.type == FrameType::kKeepAlive) continue;
    if (header.type != FrameType::kReply) return false;
    payload->resize(header.length);
    return header.length == 0 ||
           connection.Read(payload->data(), header.length, silenceMs) == platform::IpcIo::kOk;
  }
}

}  // namespace

unsigned Client::GetVersion() { return IPC_VERSION; }

bool Client::Send(const IpcChar* channel, const IpcChar* request, unsigned requestBytes,
                  IpcChar* reply, unsigned* replyBytes, int /*last: reserved*/) {
  if (replyBytes == nullptr) return false;
  const unsigned capacity = *replyBytes & ~1u;
  *replyBytes = 0;
  if (channel == nullptr || channel[0] == 0 || (request == nullptr && requestBytes > 0) ||
      requestBytes % 2 != 0 || requestBytes > IPC_MAX_MESSAGE_BYTES ||
      (reply == nullptr && capacity > 0))
    return false;
  try {
    std::u16string name;
    for (const IpcChar* at = channel; *at != 0; ++at) name.push_back(static_cast<char16_t>(*at));
    const Timing timing = CurrentTiming();
    std::unique_ptr<platform::IpcConnection> connection =
        platform::IpcConnect(name, timing.connectMs);
    if (connection == nullptr) return false;
    const std::string frame = EncodeFrame(FrameType::kRequest, request, requestBytes / 2);
    if (connection->Write(frame.data(), frame.size(), timing.requestMs) != platform::IpcIo::kOk)
      return false;
    std::vector<unsigned char> payload;
    if (!ReadReply(*connection, timing.silenceMs, &payload)) return false;
    const size_t size = std::min<size_t>(payload.size(), capacity);
    DecodeText(payload.data(), size, reply);
    if (size + sizeof(IpcChar) <= capacity) reply[size / 2] = 0;
    *replyBytes = static_cast<unsigned>(size);
    return true;
  } catch (...) {  // out of memory: nothing leaves the library but false
    return false;
  }
}

}  // namespace ipc

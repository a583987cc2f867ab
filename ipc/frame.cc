#include "ipc/frame.h"

#include <cstring>

namespace ipc {
namespace {

const char kMagicRequest[4] = {'I', 'P', 'C', 'q'};
const char kMagicReply[4] = {'I', 'P', 'C', 'r'};
const char kMagicKeepAlive[4] = {'I', 'P', 'C', 'k'};

const char* MagicOf(FrameType type) {
  switch (type) {
    case FrameType::kRequest:
      return kMagicRequest;
    case FrameType::kReply:
      return kMagicReply;
    case FrameType::kKeepAlive:
      break;
  }
  return kMagicKeepAlive;
}

}  // namespace

std::string EncodeFrame(FrameType type, const IpcChar* text, size_t chars) {
  const size_t length = chars * 2;
  std::string frame(kFrameHeaderBytes + length, '\0');
  memcpy(frame.data(), MagicOf(type), 4);
  for (int i = 0; i < 4; ++i) frame[4 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
  for (size_t i = 0; i < chars; ++i) {
    const auto unit = static_cast<uint16_t>(text[i]);
    frame[kFrameHeaderBytes + 2 * i] = static_cast<char>(unit & 0xFF);
    frame[kFrameHeaderBytes + 2 * i + 1] = static_cast<char>(unit >> 8);
  }
  return frame;
}

bool DecodeFrameHeader(const unsigned char* bytes, FrameHeader* header) {
  const uint32_t length = static_cast<uint32_t>(bytes[4]) | static_cast<uint32_t>(bytes[5]) << 8 |
                          static_cast<uint32_t>(bytes[6]) << 16 |
                          static_cast<uint32_t>(bytes[7]) << 24;
  FrameType type;
  if (memcmp(bytes, kMagicRequest, 4) == 0) {
    type = FrameType::kRequest;
  } else if (memcmp(bytes, kMagicReply, 4) == 0) {
    type = FrameType::kReply;
  } else if (memcmp(bytes, kMagicKeepAlive, 4) == 0) {
    type = FrameType::kKeepAlive;
  } else {
    return false;
  }
  if (type == FrameType::kKeepAlive ? length != 0
                                    : (length % 2 != 0 || length > IPC_MAX_MESSAGE_BYTES))
    return false;
  header->type = type;
  header->length = length;
  return true;
}

void DecodeText(const unsigned char* bytes, size_t size, IpcChar* out) {
  for (size_t i = 0; i + 1 < size; i += 2)
    out[i / 2] = static_cast<IpcChar>(bytes[i] | static_cast<unsigned>(bytes[i + 1]) << 8);
}

}  // namespace ipc

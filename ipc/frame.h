// The frames on a channel's stream: 4 bytes of magic that also give the
// type ("IPCq" request, "IPCr" reply, "IPCk" keep-alive), a 4-byte
// little-endian payload length, then the payload as UTF-16LE text. A
// keep-alive has no payload; a request or reply has an even length of at most
// IPC_MAX_MESSAGE_BYTES.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "ipc/ipc_api.h"

namespace ipc {

enum class FrameType { kRequest, kReply, kKeepAlive };

constexpr size_t kFrameHeaderBytes = 8;

struct FrameHeader {
  FrameType type = FrameType::kKeepAlive;
  uint32_t length = 0;  // payload bytes
};

// The whole frame: header and the chars characters of text as UTF-16LE.
std::string EncodeFrame(FrameType type, const IpcChar* text, size_t chars);

// Reads the 8 header bytes. False when the magic is not ours or the length
// does not fit the type (odd, too large, or a keep-alive with a payload).
bool DecodeFrameHeader(const unsigned char* bytes, FrameHeader* header);

// size bytes of UTF-16LE (size even) into size / 2 characters at out.
void DecodeText(const unsigned char* bytes, size_t size, IpcChar* out);

}  // namespace ipc

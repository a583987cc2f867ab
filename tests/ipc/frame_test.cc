// The frames on the wire, byte for byte. (What a peer does with malformed
// frames is tested end to end with the IPC library.)
#include "ipc/frame.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Text = std::basic_string<IpcChar>;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(Frame, EncodesMagicLengthAndUtf16Le) {
  const Text text = {IpcChar(u'A'), IpcChar(0xE9), IpcChar(0x20AC), IpcChar(0xD834)};
  EXPECT_EQ(ipc::EncodeFrame(ipc::FrameType::kRequest, text.data(), text.size()),
            "IPCq" + Bytes({8, 0, 0, 0, 'A', 0, 0xE9, 0, 0xAC, 0x20, 0x34, 0xD8}));
  EXPECT_EQ(ipc::EncodeFrame(ipc::FrameType::kReply, text.data(), 1),
            "IPCr" + Bytes({2, 0, 0, 0, 'A', 0}));
  EXPECT_EQ(ipc::EncodeFrame(ipc::FrameType::kKeepAlive, nullptr, 0), "IPCk" + Bytes({0, 0, 0, 0}));
}

}  // namespace

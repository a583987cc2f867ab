// The frames on the wire, byte for byte.
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

TEST(Frame, DecodesOnlyWellFormedHeaders) {
  struct Row {
    const char* name;
    std::string bytes;
    bool valid;
    ipc::FrameType type;
    uint32_t length;
  } rows[] = {
      {"request", "IPCq" + Bytes({4, 0, 0, 0}), true, ipc::FrameType::kRequest, 4},
      {"reply of 1 MiB", "IPCr" + Bytes({0, 0, 0x10, 0}), true, ipc::FrameType::kReply, 1u << 20},
      {"empty reply", "IPCr" + Bytes({0, 0, 0, 0}), true, ipc::FrameType::kReply, 0},
      {"keep-alive", "IPCk" + Bytes({0, 0, 0, 0}), true, ipc::FrameType::kKeepAlive, 0},
      {"unknown magic", "IPCx" + Bytes({0, 0, 0, 0}), false, {}, 0},
      {"magic in other case", "ipcq" + Bytes({0, 0, 0, 0}), false, {}, 0},
      {"odd length", "IPCq" + Bytes({3, 0, 0, 0}), false, {}, 0},
      {"over 1 MiB", "IPCq" + Bytes({2, 0, 0x10, 0}), false, {}, 0},
      {"huge length", "IPCr" + Bytes({0xFE, 0xFF, 0xFF, 0xFF}), false, {}, 0},
      {"keep-alive with payload", "IPCk" + Bytes({2, 0, 0, 0}), false, {}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ipc::FrameHeader header;
    header.length = 77;
    const bool valid =
        ipc::DecodeFrameHeader(reinterpret_cast<const unsigned char*>(row.bytes.data()), &header);
    EXPECT_EQ(valid, row.valid);
    if (valid) {
      EXPECT_EQ(header.type, row.type);
      EXPECT_EQ(header.length, row.length);
    } else {
      EXPECT_EQ(header.length, 77u);  // untouched
    }
  }
}

TEST(Frame, TextSurvivesTheRoundTrip) {
  Text text;
  for (unsigned unit : {0x0041u, 0x0000u, 0x00FFu, 0x0100u, 0xFFFFu, 0xDC00u})
    text.push_back(IpcChar(unit));
  const std::string frame = ipc::EncodeFrame(ipc::FrameType::kReply, text.data(), text.size());
  Text decoded(text.size(), IpcChar(0x2222));
  ipc::DecodeText(reinterpret_cast<const unsigned char*>(frame.data()) + ipc::kFrameHeaderBytes,
                  frame.size() - ipc::kFrameHeaderBytes, decoded.data());
  EXPECT_EQ(decoded, text);
}

}  // namespace

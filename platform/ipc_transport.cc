#include "platform/ipc_transport.h"

#include "platform/unicode.h"

namespace platform {

uint64_t IpcChannelHash(std::u16string_view channel, std::string_view scope) {
  uint64_t hash = 0xcbf29ce484222325ull;
  auto mix = [&hash](uint8_t byte) {
    hash ^= byte;
    hash *= 0x100000001b3ull;
  };
  for (char16_t c : channel) {
    const char16_t folded = AsciiLower(c);
    mix(static_cast<uint8_t>(folded & 0xFF));
    mix(static_cast<uint8_t>(folded >> 8));
  }
  mix(0);  // keeps "ab"+"c" apart from "a"+"bc"
  for (char c : scope) mix(static_cast<uint8_t>(c));
  return hash;
}

}  // namespace platform

// The staged suite as the module's own code sees it (a Windows path; Z: is /
// in a Wine prefix), and names no other test run shares.
#pragma once

#include <mutex>
#include <random>
#include <string>
#include <string_view>

// relative uses "/" between folders; ".dll" and ".exe" are found without
// them on POSIX.
inline std::u16string StagedPath(std::u16string_view relative) {
  const std::string stage = REGCLEAN_STAGE_DIR;
  std::u16string path = u"Z:" + std::u16string(stage.begin(), stage.end()) + u"/";
  path += relative;
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  return path;
}

// prefix followed by 12 random hexadecimal digits.
inline std::u16string UniqueName(std::u16string_view prefix) {
  static std::mutex lock;
  static std::mt19937_64 random{std::random_device{}()};
  std::lock_guard<std::mutex> guard(lock);
  std::u16string out(prefix);
  uint64_t value = random();
  for (int i = 0; i < 12; ++i, value >>= 4) out.push_back(u"0123456789abcdef"[value & 15]);
  return out;
}

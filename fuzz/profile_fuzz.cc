// Reads arbitrary bytes as a private-profile file and writes into it: a key
// written is read back as written, whatever else the file holds, and once
// removed it is gone when the file had no such key before.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string path = fuzz::ScratchFolder::Get().Write(
      "profile.ini", std::string_view(reinterpret_cast<const char*>(data), size));
  platform::GetPrivateProfileString(u"Settings", u"UserContentPath", u"", path);
  platform::GetPrivateProfileInt(u"Settings", u"Count", 7, path);

  constexpr std::u16string_view kSection = u"Fuzz", kKey = u"Key", kMissing = u"\x01";
  constexpr std::u16string_view kValue = u"C:\\temp\\new value";
  const std::u16string before = platform::GetPrivateProfileString(kSection, kKey, kMissing, path);
  fuzz::Check(platform::WritePrivateProfileString(kSection, kKey, kValue, path),
              "a key is written");
  fuzz::Check(platform::GetPrivateProfileString(kSection, kKey, kMissing, path) == kValue,
              "the key reads back as written");
  fuzz::Check(platform::WritePrivateProfileString(kSection, kKey, std::nullopt, path),
              "the key is removed");
  const std::u16string after = platform::GetPrivateProfileString(kSection, kKey, kMissing, path);
  fuzz::Check(before != kMissing || after == kMissing, "the key written is gone");
  fuzz::Check(platform::WritePrivateProfileString(kSection, std::nullopt, std::nullopt, path),
              "the section is removed");
  return 0;
}

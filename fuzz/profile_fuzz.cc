// Reads arbitrary bytes as a private-profile file and writes into it: a key
// written is read back as written, whatever else the file holds; once
// removed it is gone when the file had no such key before, and every other
// line of the file is as it was, byte for byte (only its line break may
// change, and the section written may stay behind, empty).
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "platform/profile.h"

namespace {

// The file's lines as bytes, or as UTF-16 units after the mark, without
// their line breaks; a UTF-8 mark and a stray last byte of UTF-16 text are
// lines of their own. Carriage returns at the end of a line count as part of
// its break: a file whose last line ends in one without a line feed gets the
// line feed on a write, and "\r" + "\n" reads back as one break.
std::vector<std::u32string> Lines(const std::string& bytes) {
  std::vector<std::u32string> lines;
  std::u32string text, stray;
  if (bytes.starts_with("\xFF\xFE")) {
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<uint8_t>(bytes[i]) | (static_cast<uint8_t>(bytes[i + 1]) << 8));
    if (bytes.size() % 2 != 0) stray.push_back(0x10000 | static_cast<uint8_t>(bytes.back()));
  } else {
    size_t from = 0;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
      lines.push_back(U"\xFEFF");
      from = 3;
    }
    for (size_t i = from; i < bytes.size(); ++i) text.push_back(static_cast<uint8_t>(bytes[i]));
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(U'\n', start);
    if (end == std::u32string::npos) end = text.size();
    std::u32string line = text.substr(start, end - start);
    while (!line.empty() && line.back() == U'\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  if (!stray.empty()) lines.push_back(stray);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ScratchFolder& scratch = fuzz::ScratchFolder::Get();
  const std::string original(reinterpret_cast<const char*>(data), size);
  const std::u16string path = scratch.Write("profile.ini", original);
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
  if (before == kMissing) {
    const std::vector<std::u32string> was = Lines(original);
    std::vector<std::u32string> now = Lines(scratch.Read("profile.ini"));
    if (now.size() == was.size() + 1) {
      size_t i = 0;
      while (i < was.size() && now[i] == was[i]) ++i;
      if (now[i] == U"[Fuzz]") now.erase(now.begin() + static_cast<std::ptrdiff_t>(i));
    }
    fuzz::Check(now == was, "the other lines are kept byte for byte");
  }
  fuzz::Check(platform::WritePrivateProfileString(kSection, std::nullopt, std::nullopt, path),
              "the section is removed");
  return 0;
}

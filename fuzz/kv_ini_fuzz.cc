// Reads arbitrary bytes with the INI reader, the file also standing for any
// file it includes ("$include <include.ini>"), and checks what it keeps:
// every kept line has its number and text, and a value ends at a zero.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "support/kv_ini_file_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::ScratchFolder& scratch = fuzz::ScratchFolder::Get();
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string path = scratch.Write("settings.ini", bytes);
  const std::u16string included = scratch.Write("include.ini", bytes);
  CKVIniFileReader::DropCachedFile(path);
  CKVIniFileReader::DropCachedFile(included);

  CKVIniFileReader reader;
  fuzz::Check(reader.Load(path.c_str()) && reader.loaded(), "a readable file loads");
  for (const CKVIniFileReader::Line& line : reader.lines()) {
    fuzz::Check(line.number >= 1, "a kept line has its number");
    fuzz::Check(!line.text.empty(), "a kept line is not empty");
  }
  for (const char16_t* section : {u"Settings", u"section", u"a"}) {
    for (const char16_t* key : {u"UserContentPath", u"key", u"a"}) {
      std::u16string value;
      fuzz::Check(reader.GetValue(section, key, u"\x01", &value), "a value is answered");
      fuzz::Check(value.find(u'\0') == std::u16string::npos, "a value ends at a zero");
    }
  }
  return 0;
}
